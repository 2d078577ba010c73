// The entry's rules: the shared name rule, the word scan and the window match.
#include <gtest/gtest.h>

#include "app/instance_rules.h"
#include "names/name_rules.h"

TEST(NameRule, ReplacesEverySeparatorAndTheDriveColonThenAppendsTheSuffix) {
    EXPECT_EQ(MakeInstanceName(L"C:\\Tools\\Sup\\app.exe"),
              L"C__Tools_Sup_app.exe_MariskAgentNamedPipe_1234567890_");
    EXPECT_EQ(MakeInstanceName(L"C:/a\\b"), L"C__a_b_MariskAgentNamedPipe_1234567890_");
    EXPECT_EQ(MakeInstanceName(L"X:\\a:b/c"), L"X__a_b_c_MariskAgentNamedPipe_1234567890_");
}

TEST(NameRule, TheCanonicalNameIsItsOwnAndNeverAnInstanceName) {
    const std::wstring path = L"C:\\TOOLS\\SUP\\APP.EXE";
    EXPECT_EQ(MakeCanonicalInstanceName(path),
              L"C__TOOLS_SUP_APP.EXE_MariskAgentNamedPipe_1234567890_Canonical");
    // Not even the instance name of a path spelled to look like it.
    EXPECT_NE(MakeCanonicalInstanceName(path), MakeInstanceName(path));
    EXPECT_NE(MakeCanonicalInstanceName(path),
              MakeInstanceName(path + L"_MariskAgentNamedPipe_1234567890_Canonical"));
}

TEST(NameRule, KeepsCaseSpacesAndOtherCharactersAsTheyAre) {
    EXPECT_EQ(ApplyNameRule(L"D:\\My Apps\\Sup.v2\\\u4e2d.exe"),
              L"D__My Apps_Sup.v2_\u4e2d.exe_MariskAgentNamedPipe_1234567890_");
    EXPECT_EQ(ApplyNameRule(L""), L"_MariskAgentNamedPipe_1234567890_");
    EXPECT_EQ(kNameSuffix.size(), 33u);
}

TEST(NameRule, PipeNameIsTheRuleAppliedToTheAgentPathUnderThePipeNamespace) {
    EXPECT_EQ(MakePipeName(L"C:\\Tools\\Sup\\bin\\Tollvane.exe"),
              L"\\\\.\\pipe\\C__Tools_Sup_bin_Tollvane.exe_MariskAgentNamedPipe_1234567890_");
    EXPECT_EQ(MakePipeName(L"C:\\A\\bin\\Tollvane.exe"),
              L"\\\\.\\pipe\\C__A_bin_Tollvane.exe_MariskAgentNamedPipe_1234567890_");
}

TEST(CommandWords, MatchOnlyWholeWordsInTheirExactCase) {
    const std::vector<std::wstring> words = {L"-starthide", L"/startInstall", L"STARTHIDE", L"starthidex"};
    EXPECT_FALSE(HasCommandWord(words, L"starthide"));
    EXPECT_FALSE(HasCommandWord(words, L"startInstall"));
    EXPECT_TRUE(HasCommandWord({L"x", L"startInstall"}, L"startInstall"));
    EXPECT_TRUE(HasCommandWord({L"starthide"}, L"starthide"));
    EXPECT_FALSE(HasCommandWord({}, L"starthide"));
}

namespace {
InstanceWindowRule SupervisorRule() {
    return {L"#32770", L"Quorvel Tollvane", L"C:\\Apps\\Sup\\QuorvelTollvane.exe"};
}
}  // namespace

TEST(WindowMatch, TakesTheDialogWithTheProductTitleRunningTheSameExecutable) {
    EXPECT_TRUE(MatchesInstanceWindow(
        SupervisorRule(), {L"#32770", L"Quorvel Tollvane", L"c:\\apps\\SUP\\quorveltollvane.EXE"}));
    // Every ASCII letter folds, A and Z too, and nothing beside them.
    EXPECT_TRUE(EqualsIgnoringAsciiCase(L"AZaz", L"azAZ"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"@[", L"`{"));
}

TEST(WindowMatch, RejectsOtherClassesTitlesAndExecutables) {
    const InstanceWindowRule rule = SupervisorRule();
    const std::wstring path = L"C:\\Apps\\Sup\\QuorvelTollvane.exe";
    EXPECT_FALSE(MatchesInstanceWindow(rule, {L"Edit", L"Quorvel Tollvane", path}));
    EXPECT_FALSE(MatchesInstanceWindow(rule, {L"#32770", L"quorvel tollvane", path}));
    EXPECT_FALSE(MatchesInstanceWindow(rule, {L"#32770", L"Quorvel Tollvane ", path}));
    EXPECT_FALSE(
        MatchesInstanceWindow(rule, {L"#32770", L"Quorvel Tollvane", L"C:\\Other\\QuorvelTollvane.exe"}));
    EXPECT_FALSE(MatchesInstanceWindow(rule, {L"#32770", L"Quorvel Tollvane", path + L"x"}));
    EXPECT_FALSE(
        MatchesInstanceWindow(rule, {L"#32770", L"Quorvel Tollvane", path.substr(0, path.size() - 1)}));
}

TEST(WindowMatch, SkipsCandidatesWhoseDetailsCannotBeRead) {
    const InstanceWindowRule rule = SupervisorRule();
    EXPECT_FALSE(MatchesInstanceWindow(rule, {std::nullopt, L"Quorvel Tollvane", rule.modulePath}));
    EXPECT_FALSE(MatchesInstanceWindow(rule, {L"#32770", std::nullopt, rule.modulePath}));
    EXPECT_FALSE(MatchesInstanceWindow(rule, {L"#32770", L"", rule.modulePath}));
    EXPECT_FALSE(MatchesInstanceWindow(rule, {L"#32770", L"Quorvel Tollvane", std::nullopt}));
}

TEST(WindowMatch, AnEmptyRuleFieldSkipsThatTest) {
    InstanceWindowRule rule = SupervisorRule();
    rule.modulePath.reset();
    EXPECT_TRUE(MatchesInstanceWindow(rule, {L"#32770", L"Quorvel Tollvane", std::nullopt}));
    rule.className.reset();
    EXPECT_TRUE(MatchesInstanceWindow(rule, {std::nullopt, L"Quorvel Tollvane", std::nullopt}));
}

TEST(GlobalInstanceName, IsOnePerUserAndFolderAndDoesNotGrowWithTheFolder) {
    const std::wstring sid = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const std::wstring shallow = MakeGlobalInstanceName(sid, L"\\DEVICE\\HARDDISKVOLUME3\\APPS\\SUP\\");
    const std::wstring deep = MakeGlobalInstanceName(sid, L"\\DEVICE\\HARDDISKVOLUME3\\" + std::wstring(400, L'D'));
    EXPECT_EQ(shallow.rfind(L"Global\\QuorvelTollvane_" + sid + L"_", 0), 0u);
    EXPECT_EQ(shallow.size(), deep.size());
    EXPECT_TRUE(ObjectNameFits(deep));
    EXPECT_NE(shallow, deep);
    EXPECT_NE(shallow, MakeGlobalInstanceName(L"S-1-5-21-1004336348-1177238915-682003330-1002",
                                              L"\\DEVICE\\HARDDISKVOLUME3\\APPS\\SUP\\"));
}

TEST(NameLimits, ThePipeNameFitsUpTo197CharactersOfFolderAndTheMutexNamesTo206) {
    const auto folder = [](size_t n) { return L"C:\\" + std::wstring(n - 3, L'f'); };
    EXPECT_TRUE(PipeNameFits(MakePipeName(folder(197) + L"\\bin\\Tollvane.exe")));
    EXPECT_FALSE(PipeNameFits(MakePipeName(folder(198) + L"\\bin\\Tollvane.exe")));
    EXPECT_TRUE(ObjectNameFits(MakeInstanceName(folder(206) + L"\\QuorvelTollvane.exe")));
    EXPECT_FALSE(ObjectNameFits(MakeInstanceName(folder(207) + L"\\QuorvelTollvane.exe")));
    EXPECT_FALSE(ObjectNameFits(MakeCanonicalInstanceName(folder(198) + L"\\QUORVELTOLLVANE.EXE")));
}
