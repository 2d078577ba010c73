#include "supervision/console_rules.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kSelf = 4000;

ProcessRow Row(uint32_t pid, uint32_t ppid, uint64_t created, const wchar_t* path = nullptr) {
    ProcessRow row;
    row.pid = pid;
    row.ppid = ppid;
    row.created = created;
    if (path) row.path = path;
    return row;
}

TEST(AgentConsole, OnlyTheLaunchedProcessAndItsRealDescendantsAreTheAgents) {
    const ProcessRow agent = Row(10, kSelf, 100);
    std::vector<ProcessRow> rows = {
        agent,
        Row(11, 10, 110),
        Row(12, 11, 120),
        Row(20, 1, 50),  // the user's terminal
        Row(21, 20, 130),
        Row(30, 10, 90),  // names 10 as parent, but is older: its parent had the id before
        Row(40, 1, 60, L"C:\\Apps\\Sup\\bin\\Tollvane.exe"),  // a copy started by hand
    };
    rows.back().inAgentDir = true;  // the path rule's pick is never the agent's console
    EXPECT_EQ(LaunchedTree(rows, agent, kSelf), (std::set<uint32_t>{10, 11, 12}));
    // Ended, it still leads to what it left; its id gone to another, it leads nowhere.
    EXPECT_EQ(LaunchedTree({rows.begin() + 1, rows.end()}, agent, kSelf), (std::set<uint32_t>{10, 11, 12}));
    EXPECT_TRUE(IsSameProcess(rows[0], agent));
    rows[0].created = 400;
    EXPECT_FALSE(IsSameProcess(rows[0], agent));
    EXPECT_FALSE(IsSameProcess(Row(10, 1, kCreatedUnknown), Row(10, 1, kCreatedUnknown)));
    EXPECT_TRUE(LaunchedTree(rows, agent, kSelf).empty());
    EXPECT_TRUE(LaunchedTree(rows, Row(10, kSelf, kCreatedUnknown), kSelf).empty());
}

TEST(AgentConsole, TheSignalGoesOnlyWhereEveryoneButUsIsTheAgents) {
    const std::set<uint32_t> agent = {10, 11, 12};
    EXPECT_TRUE(MaySignalConsole({kSelf, 10, 11}, agent, kSelf));
    EXPECT_TRUE(MaySignalConsole({12}, agent, kSelf));
    EXPECT_FALSE(MaySignalConsole({kSelf, 10, 20}, agent, kSelf));  // a stranger shares it
    EXPECT_FALSE(MaySignalConsole({kSelf}, agent, kSelf));
    EXPECT_FALSE(MaySignalConsole({}, agent, kSelf));  // unreadable
    EXPECT_EQ(ConsoleCandidates(11, agent), (std::vector<uint32_t>{11, 10, 12}));
    EXPECT_EQ(ConsoleCandidates(0, agent), (std::vector<uint32_t>{10, 11, 12}));
}

}  // namespace
