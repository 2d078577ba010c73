#include "journal/journal_event_rules.h"

#include <gtest/gtest.h>

namespace {

AgentEvent Of(AgentEvent::Kind kind) {
    AgentEvent event;
    event.kind = kind;
    return event;
}

SystemWords FakeWords() {
    SystemWords words;
    words.exitCode = [](uint32_t code) { return L"<code " + std::to_wstring(code) + L">"; };
    words.launchError = [](uint32_t error) { return L"<error " + std::to_wstring(error) + L">"; };
    return words;
}

}  // namespace

TEST(JournalEventLine, EveryDurationIsWrittenInHundredthsOfASecond) {
    AgentEvent exited = Of(AgentEvent::Kind::Exited);
    exited.exitCode = 3;
    exited.runMs = 1234;
    EXPECT_EQ(JournalEventLine(exited, FakeWords()), L"agent exited: code <code 3>, ran 1.23 s");
    AgentEvent paused = Of(AgentEvent::Kind::Paused);
    paused.pauseMs = 1000;
    EXPECT_EQ(JournalEventLine(paused, FakeWords()), L"relaunch paused for 1.00 s (crash loop)");
    paused.reason = AgentPauseReason::LaunchFailed;
    paused.pauseMs = 64005;
    EXPECT_EQ(JournalEventLine(paused, FakeWords()), L"relaunch paused for 64.01 s (launch failure)");
}

TEST(JournalEventLine, QuotesTheSystemsWordsOnlyWhereTheEventCarriesThem) {
    AgentEvent failed = Of(AgentEvent::Kind::LaunchFailed);
    failed.error = 2;
    EXPECT_EQ(JournalEventLine(failed, FakeWords()), L"launch failed: <error 2> (error 2)");
    AgentEvent held = Of(AgentEvent::Kind::Held);
    held.hold = AgentHold::NoJob;
    held.error = 5;
    EXPECT_EQ(JournalEventLine(held, FakeWords()).rfind(L"no job for the agent (error 5): Stop walks", 0),
              0u);
    AgentEvent missing = Of(AgentEvent::Kind::Missing);
    missing.path = L"C:\\Sup\\bin\\Tollvane.exe";
    missing.bFlag = true;
    EXPECT_EQ(JournalEventLine(missing, FakeWords()), L"agent file is a folder: C:\\Sup\\bin\\Tollvane.exe");
    AgentEvent unwatched = Of(AgentEvent::Kind::WatchFailed);
    unwatched.error = 8;
    EXPECT_EQ(JournalEventLine(unwatched, FakeWords()),
              L"the agent is not watched: no wake event (error 8); nothing is started");
    unwatched.bFlag = true;
    EXPECT_EQ(JournalEventLine(unwatched, FakeWords()),
              L"the agent is not watched: its watch thread could not start (error 8); nothing is started");
    AgentEvent refused = Of(AgentEvent::Kind::StopEnded);
    refused.outcome = StopOutcome::NotEnded;
    refused.error = 5;
    EXPECT_EQ(JournalEventLine(refused, FakeWords()), L"could not be ended (error 5)");
    EXPECT_EQ(JournalEventLine(Of(AgentEvent::Kind::NeedsElevation), FakeWords())
                  .rfind(L"cannot start the agent: it asks for administrator rights;", 0),
              0u);
    // The user's command and the end of the watch are said elsewhere.
    EXPECT_EQ(JournalEventLine(Of(AgentEvent::Kind::Stopping), FakeWords()), L"");
    EXPECT_EQ(JournalEventLine(Of(AgentEvent::Kind::WatchEnded), FakeWords()), L"");
}
