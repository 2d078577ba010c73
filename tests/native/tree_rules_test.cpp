#include "supervision/tree_rules.h"

#include <gtest/gtest.h>

namespace {

constexpr wchar_t kDir[] = L"C:\\Apps\\Sup\\bin";
constexpr uint32_t kSelf = 4000;

// Rows created in id order, one time unit apart, unless a test gives a time
// (kCreatedUnknown included).
constexpr uint64_t kInIdOrder = ~uint64_t{0};
ProcessRow Row(uint32_t pid, uint32_t ppid, const wchar_t* path = nullptr, uint64_t created = kInIdOrder) {
    ProcessRow row;
    row.pid = pid;
    row.ppid = ppid;
    if (path) row.path = path;
    row.created = created != kInIdOrder ? created : 1000 + pid;
    return row;
}

std::set<uint32_t> Select(const std::vector<ProcessRow>& rows) { return SelectAgentTree(rows, kDir, kSelf); }

TEST(TreeSelection, TakesTheAgentDirAndWhatLiesBelowItIgnoringCaseButNoSiblingFolder) {
    const std::vector<ProcessRow> rows = {
        Row(1, 0, L"C:\\Windows\\explorer.exe"),
        Row(10, 1, L"C:\\Apps\\Sup\\bin\\Tollvane.exe"),
        Row(11, 1, L"c:\\apps\\sup\\BIN\\tools\\x.exe"),
        Row(12, 1, L"C:\\Apps\\Sup\\binaries\\y.exe"),  // siblings the user keeps
        Row(17, 1, L"C:\\Apps\\Sup\\bin - Copy\\Tollvane.exe"),
        Row(18, 1, L"C:\\Apps\\Sup\\bin.old\\Tollvane.exe"),
        Row(19, 1, L"C:\\Apps\\Sup\\bin.exe"),
        Row(13, 1, L"C:\\Apps\\Sup\\Sup.exe"),
        Row(14, 1, L"C:\\Apps\\Sup\\bi"),  // shorter than the directory
        Row(15, 1, L"D:\\Apps\\Sup\\bin\\z.exe"),
        Row(16, 1, L"C:\\Apps\\Sup\\bim\\Tollvane.exe"),  // differs in the last letter only
    };
    EXPECT_EQ(Select(rows), (std::set<uint32_t>{10, 11}));
    EXPECT_TRUE(IsUnderAgentDir(L"C:\\Apps\\Sup\\bin", kDir));
    EXPECT_TRUE(IsUnderAgentDir(L"C:\\Apps\\Sup\\bin\\x.exe", L"C:\\Apps\\Sup\\bin\\"));
    // Every letter folds, the last of the alphabet too.
    EXPECT_TRUE(IsUnderAgentDir(L"c:\\zz\\bin\\x.exe", L"C:\\ZZ\\BIN"));
    EXPECT_TRUE(IsUnderAgentDir(L"C:\\ZZ\\BIN\\x.exe", L"c:\\zz\\bin"));
}

TEST(TreeSelection, AProcessMarkedInTheAgentDirIsTakenWithItsDescendantsWhateverItsPath) {
    std::vector<ProcessRow> rows = {Row(20, 1, L"P:\\bin\\Tollvane.exe"), Row(21, 20, L"C:\\Tools\\h.exe"),
                                    Row(22, 1, L"C:\\Tools\\other.exe")};
    rows[0].inAgentDir = true;
    EXPECT_EQ(Select(rows), (std::set<uint32_t>{20, 21}));
}

TEST(NativeImagePaths, OneDeviceComparesAsTextTwoDevicesOnlyWhereTheFolderMayBeReachedBoth) {
    const wchar_t* dir = L"\\Device\\HarddiskVolume3\\Apps\\Sup\\bin";
    EXPECT_EQ(JudgeNativeImage(L"\\Device\\HarddiskVolume3\\apps\\sup\\BIN\\Tollvane.exe", dir),
              NativeVerdict::Under);
    EXPECT_EQ(JudgeNativeImage(L"\\Device\\HarddiskVolume3\\Apps\\Sup\\bim\\x.exe", dir),
              NativeVerdict::NotUnder);
    EXPECT_EQ(JudgeNativeImage(L"\\Device\\HarddiskVolume3\\Apps\\Sup\\binaries\\x.exe", dir),
              NativeVerdict::NotUnder);
    // Volume 30 is not volume 3, and another local volume is never the same folder.
    EXPECT_EQ(JudgeNativeImage(L"\\Device\\HarddiskVolume30\\Apps\\Sup\\bin\\x.exe", dir),
              NativeVerdict::AskFileSystem);
    EXPECT_EQ(JudgeNativeImage(L"\\Device\\HarddiskVolume2\\Windows\\explorer.exe", dir),
              NativeVerdict::NotUnder);
    // Another top folder of the same volume is text apart, no lookup needed.
    EXPECT_EQ(JudgeNativeImage(L"\\Device\\HarddiskVolume3\\Other\\Sup\\bin\\x.exe", dir),
              NativeVerdict::NotUnder);
    // A mapped drive's files beside the redirector's name for the same share,
    // in whatever case the redirector spells them.
    const wchar_t* share = L"\\Device\\Mup\\srv\\share\\Sup\\bin";
    EXPECT_EQ(JudgeNativeImage(
                  L"\\Device\\LanmanRedirector\\;Z:0000000000012345\\srv\\share\\Sup\\bin\\a.exe", share),
              NativeVerdict::AskFileSystem);
    EXPECT_EQ(JudgeNativeImage(
                  L"\\Device\\LanmanRedirector\\;Z:0000000000012345\\SRV\\SHARE\\SUP\\BIN\\a.exe", share),
              NativeVerdict::AskFileSystem);
    EXPECT_EQ(JudgeNativeImage(L"\\Device\\Mup\\srv\\share\\Sup\\bin\\tools\\a.exe", share),
              NativeVerdict::Under);
    EXPECT_EQ(JudgeNativeImage(L"\\Device\\Mup\\srv\\other\\a.exe", share), NativeVerdict::NotUnder);
}

TEST(TreeSelection, NormalisesDoubledSeparatorsOfTheProcessPath) {
    EXPECT_EQ(NormalizeSeparators(L"C:\\Apps\\\\Sup//bin\\x.exe"), L"C:\\Apps\\Sup\\bin\\x.exe");
    EXPECT_EQ(NormalizeSeparators(L"a\\\\\\\\b///c"), L"a\\b\\/c");
    EXPECT_EQ(NormalizeSeparators(L"a/b"), L"a/b");
    EXPECT_TRUE(IsUnderAgentDir(L"C:\\Apps\\\\Sup//bin\\x.exe", kDir));
    // A UNC installation still finds its agent once both sides are collapsed.
    EXPECT_TRUE(IsUnderAgentDir(L"\\\\srv\\share\\bin\\Tollvane.exe", L"\\\\srv\\share\\bin"));
    EXPECT_FALSE(IsUnderAgentDir(L"C:\\Apps\\Sup/bin\\x.exe", kDir));
    EXPECT_FALSE(IsUnderAgentDir(L"anything", L""));
}

TEST(TreeSelection, AddsDescendantsLivingElsewhereButNotTheAgentsParent) {
    const std::vector<ProcessRow> rows = {
        Row(kSelf, 1, L"C:\\Apps\\Sup\\QuorvelTollvane.exe", 10),
        Row(1, 0, L"C:\\Windows\\explorer.exe", 1),
        Row(50, kSelf, L"C:\\Apps\\Sup\\bin\\Tollvane.exe", 20),
        Row(70, 50, L"C:\\Other\\child.exe", 30),
        Row(60, 70, nullptr, 40),  // grandchild whose path can't be read
        Row(80, 1, L"C:\\Other\\child.exe", 50),
    };
    EXPECT_EQ(Select(rows), (std::set<uint32_t>{50, 60, 70}));
}

TEST(TreeSelection, WalksAtMostThirtyGenerations) {
    // A chain below the agent (pid 1): pid 1+k is k generations down.
    auto chain = [](uint32_t length, bool ascending) {
        std::vector<ProcessRow> rows = {Row(1, 0, L"C:\\Apps\\Sup\\bin\\a.exe", 1)};
        for (uint32_t k = 1; k <= length; ++k) {
            // Descending ids put deeper generations first in the walk.
            const uint32_t pid = ascending ? 1 + k : 1000 - k;
            const uint32_t ppid = k == 1 ? 1 : (ascending ? pid - 1 : pid + 1);
            rows.push_back(Row(pid, ppid, nullptr, 10 + k));
        }
        return rows;
    };
    // Deepest first: generation 31 sees no selected ancestor within 30 steps.
    const auto deep = Select(chain(31, false));
    EXPECT_EQ(deep.size(), 31u);
    EXPECT_EQ(deep.count(1000 - 31), 0u);
    EXPECT_EQ(deep.count(1000 - 30), 1u);
    // Ascending ids: each generation finds its parent already added.
    EXPECT_EQ(Select(chain(40, true)).size(), 41u);
}

TEST(TreeSelection, StopsOnCyclesMissingParentsAndSelfParents) {
    const std::vector<ProcessRow> rows = {
        Row(1, 0, L"C:\\Apps\\Sup\\bin\\a.exe"),
        Row(20, 21, nullptr, 5),
        Row(21, 20, nullptr, 5),  // name each other
        Row(30, 30),              // its own parent
        Row(40, 999),             // parent exited, id not reused
    };
    EXPECT_EQ(Select(rows), (std::set<uint32_t>{1}));
}

TEST(TreeSelection, NeverSelectsItselfOrZeroButStillTakesItsDescendants) {
    const std::vector<ProcessRow> rows = {
        Row(0, 0, L"C:\\Apps\\Sup\\bin\\idle"),
        Row(kSelf, 1, L"C:\\Apps\\Sup\\bin\\QuorvelTollvane.exe", 10),
        Row(77, kSelf, L"C:\\Elsewhere\\agent.exe", 20),
    };
    EXPECT_EQ(Select(rows), (std::set<uint32_t>{77}));
    EXPECT_TRUE(Select({Row(1, 0, L"C:\\Nothing\\here.exe")}).empty());
}

TEST(TreeSelection, ProcessIdReuseNeverMakesAStrangerADescendant) {
    // 10 was the agent's child and started 90, then exited; the id 10 went to
    // a newer agent process. 90 is older than that process, so it is not its
    // child and stays.
    std::vector<ProcessRow> rows = {
        Row(10, 1, L"C:\\Apps\\Sup\\bin\\Tollvane.exe", 500),
        Row(90, 10, L"C:\\Users\\editor.exe", 200),
        Row(91, 10, L"C:\\Users\\tool.exe", 500),                // same tick as its parent: a real child
        Row(92, 10, L"C:\\Users\\locked.exe", kCreatedUnknown),  // a link whose age can't be checked
        Row(95, 90, L"C:\\Users\\late.exe", 600),                // younger than 10, but its parent 90 is not
    };
    EXPECT_EQ(Select(rows), (std::set<uint32_t>{10, 91}));

    // A parent of unknown age breaks the chain above a known grandchild too.
    std::vector<ProcessRow> chain = {
        Row(10, 1, L"C:\\Apps\\Sup\\bin\\Tollvane.exe", 100),
        Row(20, 10),
        Row(30, 20, L"C:\\Other\\g.exe", 300),
    };
    chain[1].created = kCreatedUnknown;
    EXPECT_EQ(Select(chain), (std::set<uint32_t>{10}));
    chain[1].created = 200;
    EXPECT_EQ(Select(chain), (std::set<uint32_t>{10, 20, 30}));

    // An agent of unknown age whose id a stranger names as its parent (the
    // stranger's real parent had the id before): not taken.
    const std::vector<ProcessRow> unknownAgent = {
        Row(10, 1, L"C:\\Apps\\Sup\\bin\\Tollvane.exe", kCreatedUnknown),
        Row(90, 10, L"C:\\Users\\editor.exe", 200),
    };
    EXPECT_EQ(Select(unknownAgent), (std::set<uint32_t>{10}));
}

}  // namespace

namespace {

TEST(TreeSelection, ChildrenOfProcessesEndedEarlierInTheSameKillAreFound) {
    // The agent (10) started 20 after the first snapshot and was then ended.
    const ProcessRow agent = Row(10, 1, L"C:\\Apps\\Sup\\bin\\Tollvane.exe", 100);
    const std::vector<ProcessRow> rows = {
        Row(20, 10, L"C:\\Other\\late.exe", 150),
        Row(21, 20, nullptr, 160),
        Row(30, 99, L"C:\\Other\\unrelated.exe", 50),
    };
    EXPECT_TRUE(Select(rows).empty());
    EXPECT_EQ(SelectAgentTree(rows, kDir, kSelf, {agent}), (std::set<uint32_t>{10, 20, 21}));

    // Still there while it goes away: the same process, the same answer. A
    // process outside the agent directory is taken by its creation time
    // alone, not by its path.
    auto dying = rows;
    dying.push_back(agent);
    EXPECT_EQ(SelectAgentTree(dying, kDir, kSelf, {agent}), (std::set<uint32_t>{10, 20, 21}));
    EXPECT_EQ(SelectAgentTree(rows, kDir, kSelf, {rows[0]}), (std::set<uint32_t>{20, 21}));

    // Its id already went to a newer process: that one is not taken, and
    // neither are processes that now look like its children.
    auto reused = rows;
    reused.push_back(Row(10, 1, L"C:\\Users\\new.exe", 400));
    EXPECT_TRUE(SelectAgentTree(reused, kDir, kSelf, {agent}).empty());
}

}  // namespace
