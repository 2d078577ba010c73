// The tray menu's group of extensions: entries that sit between Show Window
// and About, set off by separators, with About and Exit last. The menu's own
// six entries keep their ids, texts and order. No Win32 here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One entry of the group: a plain command (choiceCount 0) or a submenu of
// radio choices whose commands run from firstCommand on.
struct TrayGroupEntry {
    unsigned textId;
    unsigned firstCommand;
    size_t choiceCount;
};

// An item of the finished menu: a command, a separator (id 0), or a
// submenu (bSubmenu, id: its entry's text id).
struct TrayMenuSlot {
    unsigned id;
    bool bSubmenu;
    bool operator==(const TrayMenuSlot& o) const { return id == o.id && bSubmenu == o.bSubmenu; }
};

// Where the group's entries go in the menu as the resource has it (baseIds,
// 0 for a separator): where the resource has entries of its own between the
// first part's separator and the one before aboutId, after them; else right
// before aboutId, behind the separator that ends the first part, with one
// more separator after them. An empty group leaves the menu as it is.
size_t TrayGroupPosition(const std::vector<unsigned>& baseIds, unsigned aboutId);
std::vector<TrayMenuSlot> TrayMenuWithGroup(const std::vector<unsigned>& baseIds, unsigned aboutId,
                                            const std::vector<TrayGroupEntry>& group);

// The entry and the choice a command stands for; false when it is none of the group's.
bool FindGroupChoice(const std::vector<TrayGroupEntry>& group, unsigned command, size_t& entry,
                     size_t& choice);

// The index of value among choices, or -1: a value set elsewhere that the
// menu does not offer checks nothing.
int CheckedChoice(const uint32_t* choices, size_t count, uint32_t value);
