#include "ui/tray_group_rules.h"

#include <algorithm>

size_t TrayGroupPosition(const std::vector<unsigned>& baseIds, unsigned aboutId) {
    const auto about = std::find(baseIds.begin(), baseIds.end(), aboutId);
    return static_cast<size_t>(about - baseIds.begin());
}

std::vector<TrayMenuSlot> TrayMenuWithGroup(const std::vector<unsigned>& baseIds, unsigned aboutId,
                                            const std::vector<TrayGroupEntry>& group) {
    std::vector<TrayMenuSlot> menu;
    const size_t at = TrayGroupPosition(baseIds, aboutId);
    for (size_t i = 0; i < baseIds.size(); ++i) {
        if (i == at && !group.empty()) {
            // The resource has a separator before About; one without gets one.
            if (menu.empty() || menu.back().id != 0) menu.push_back({0, false});
            for (const TrayGroupEntry& entry : group)
                menu.push_back(entry.choiceCount == 0 ? TrayMenuSlot{entry.firstCommand, false}
                                                      : TrayMenuSlot{entry.textId, true});
            menu.push_back({0, false});
        }
        menu.push_back({baseIds[i], false});
    }
    return menu;
}

bool FindGroupChoice(const std::vector<TrayGroupEntry>& group, unsigned command, size_t& entry,
                     size_t& choice) {
    for (size_t i = 0; i < group.size(); ++i) {
        const size_t count = std::max<size_t>(group[i].choiceCount, 1);
        if (command >= group[i].firstCommand && command < group[i].firstCommand + count) {
            entry = i;
            choice = command - group[i].firstCommand;
            return true;
        }
    }
    return false;
}

int CheckedChoice(const uint32_t* choices, size_t count, uint32_t value) {
    for (size_t i = 0; i < count; ++i) {
        if (choices[i] == value) return static_cast<int>(i);
    }
    return -1;
}
