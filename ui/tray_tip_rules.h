// The tray icon's tooltip: the product title, then a line with the agent's
// state, then any lines about the supervisor itself. No Win32 here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

enum class AgentState { Running, Stopping, Paused, Stopped, Missing, CannotLaunch };

// A local time of day.
struct ClockTime {
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
};

// What the agent's line says. Written once per change of state: the times are
// moments ("since 10:02", "at 10:02:15"), never a countdown, so an idle
// supervisor needs no timer for its tooltip.
struct AgentStateLine {
    AgentState state = AgentState::Stopped;
    uint32_t pid = 0;         // Running
    ClockTime at;             // Running: since when; Paused: when the relaunch comes
    uint32_t quickExits = 0;  // Paused
    std::wstring reason;      // CannotLaunch: the system's words for the failure
};

// The texts of one language as the string table holds them. {time}, {pid},
// {count} and {reason} mark where the values go.
struct TrayTipTexts {
    std::wstring title;
    std::wstring running;  // {time} {pid}
    std::wstring stopping;
    std::wstring paused;  // {time} {count}
    std::wstring stopped;
    std::wstring missing;
    std::wstring cannotLaunch;  // {reason}
};

// Lines about the supervisor itself (say, a pipe another program holds),
// shown after the agent's line in the order of their keys. A key is the
// string id of the line's text, so each condition owns one slot.
using TrayNotes = std::map<unsigned, std::wstring>;

// What the shell shows of a tooltip: 128 units with the terminator.
constexpr size_t kTrayTipCapacity = 127;

std::wstring HourMinute(const ClockTime& t);        // "9:05"
std::wstring HourMinuteSecond(const ClockTime& t);  // "9:05:07"

// The agent's line alone, uncut.
std::wstring AgentStateText(const TrayTipTexts& texts, const AgentStateLine& line);

// The whole tooltip, one line per row, at most kTrayTipCapacity units. What
// does not fit is cut from the end of the failure's reason, which then ends
// in "…"; failing that, from the end of the whole text. A surrogate pair is
// never split.
std::wstring BuildTrayTip(const TrayTipTexts& texts, const AgentStateLine& line, const TrayNotes& notes);
