#include "supervision/stop_rules.h"

#include <cwchar>

namespace {

// Hundredths, rounded: 434 ms reads "0.43 s".
std::wstring Seconds(uint32_t ms) {
    const uint32_t hundredths = (ms + 5) / 10;
    wchar_t text[32] = {};
    std::swprintf(text, 32, L"%lu.%02lu s", static_cast<unsigned long>(hundredths / 100),
                  static_cast<unsigned long>(hundredths % 100));
    return text;
}

}  // namespace

std::wstring StopOutcomeText(StopOutcome outcome, uint32_t elapsedMs, uint32_t error) {
    switch (outcome) {
        case StopOutcome::EndedByItself:
            return L"asked to end (Ctrl+C, close); ended by itself after " + Seconds(elapsedMs);
        case StopOutcome::GraceOver:
            return L"did not end within " + std::to_wstring(kStopGraceMs / 1000) + L" s; ended by force";
        case StopOutcome::NotEnded:
            return L"could not be ended (error " + std::to_wstring(error) + L")";
        case StopOutcome::ForcedEarly:
            break;
    }
    return L"asked to end (Ctrl+C, close); ended by force after " + Seconds(elapsedMs) + L" on a new command";
}
