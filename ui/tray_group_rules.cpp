#include "ui/tray_group_rules.h"

#include <algorithm>

namespace {

// The separator right before About, and whether a group of entries already
// sits between the first part's separator and it.
bool HasGroupBefore(const std::vector<unsigned>& baseIds, size_t about, size_t& separator) {
    if (about == 0 || about > baseIds.size() || baseIds[about - 1] != 0) return false;
    separator = about - 1;
    const auto first = std::find(baseIds.begin(), baseIds.end(), 0u);
    return static_cast<size_t>(first - baseIds.begin()) < separator;
}

}  // namespace

size_t TrayGroupPosition(const std::vector<unsigned>& baseIds, unsigned aboutId) {
    const size_t about =
        static_cast<size_t>(std::find(baseIds.begin(), baseIds.end(), aboutId) - baseIds.begin());
    size_t separator = 0;
    return HasGroupBefore(baseIds, about, separator) ? separator : about;
}

std::vector<TrayMenuSlot> TrayMenuWithGroup(const std::vector<unsigned>& baseIds, unsigned aboutId,
                                            const std::vector<TrayGroupEntry>& group) {
    std::vector<TrayMenuSlot> menu;
    const size_t about =
        static_cast<size_t>(std::find(baseIds.begin(), baseIds.end(), aboutId) - baseIds.begin());
    size_t separator = 0;
    const bool bJoin = HasGroupBefore(baseIds, about, separator);
    const size_t at = bJoin ? separator : about;
    for (size_t i = 0; i < baseIds.size(); ++i) {
        if (i == at && !group.empty()) {
            // Alone, the group is set off on both sides; beside entries the
            // menu has there already, it joins them.
            if (!bJoin && (menu.empty() || menu.back().id != 0)) menu.push_back({0, false});
            for (const TrayGroupEntry& entry : group)
                menu.push_back(entry.choiceCount == 0 ? TrayMenuSlot{entry.firstCommand, false}
                                                      : TrayMenuSlot{entry.textId, true});
            if (!bJoin) menu.push_back({0, false});
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
