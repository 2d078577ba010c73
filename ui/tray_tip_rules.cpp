#include "ui/tray_tip_rules.h"

#include <cwchar>

#include "framework/text_fill.h"

namespace {

constexpr wchar_t kEllipsis = L'\u2026';

bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The first n units of text, one fewer where the cut would split a pair.
std::wstring Head(const std::wstring& text, size_t n) {
    if (n >= text.size()) return text;
    if (n > 0 && IsLowSurrogate(text[n])) --n;
    return text.substr(0, n);
}

}  // namespace

std::wstring HourMinute(const ClockTime& t) {
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%u:%02u", t.hour, t.minute);
    return text;
}

std::wstring HourMinuteSecond(const ClockTime& t) {
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%u:%02u:%02u", t.hour, t.minute, t.second);
    return text;
}

std::wstring AgentStateText(const TrayTipTexts& texts, const AgentStateLine& line) {
    std::wstring text;
    switch (line.state) {
        case AgentState::Running:
            text = texts.running;
            text = FillMark(std::move(text), L"{time}", HourMinute(line.at));
            text = FillMark(std::move(text), L"{pid}", std::to_wstring(line.pid));
            break;
        case AgentState::Stopping:
            text = texts.stopping;
            break;
        case AgentState::Paused:
            text = texts.paused;
            text = FillMark(std::move(text), L"{time}", HourMinuteSecond(line.at));
            text = FillMark(std::move(text), L"{count}", std::to_wstring(line.quickExits));
            break;
        case AgentState::Stopped:
            text = texts.stopped;
            break;
        case AgentState::Missing:
            text = texts.missing;
            break;
        case AgentState::CannotLaunch:
            text = texts.cannotLaunch;
            text = FillMark(std::move(text), L"{reason}", line.reason);
            break;
    }
    return text;
}

std::wstring BuildTrayTip(const TrayTipTexts& texts, const AgentStateLine& line, const TrayNotes& notes) {
    std::wstring rest;
    for (const auto& note : notes) {
        if (!note.second.empty()) rest += L"\n" + note.second;
    }
    const std::wstring head = texts.title + L"\n";
    std::wstring agent = AgentStateText(texts, line);
    size_t total = head.size() + agent.size() + rest.size();
    if (total > kTrayTipCapacity && line.state == AgentState::CannotLaunch && !line.reason.empty()) {
        // Shorten the reason in place, keeping what the line says around it.
        const size_t excess = total - kTrayTipCapacity + 1;  // + 1 for the ellipsis
        const size_t at = agent.find(line.reason);
        if (at != std::wstring::npos && excess < line.reason.size()) {
            const std::wstring reason = Head(line.reason, line.reason.size() - excess) + kEllipsis;
            agent.replace(at, line.reason.size(), reason);
            total = head.size() + agent.size() + rest.size();
        }
    }
    std::wstring tip = head + agent + rest;
    if (total > kTrayTipCapacity) tip = Head(tip, kTrayTipCapacity - 1) + kEllipsis;
    return tip;
}
