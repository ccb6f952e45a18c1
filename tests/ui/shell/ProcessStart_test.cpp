// The start of the process: the argument table (a language with and without the loader's marker, the
// marker alone, nothing, an empty or non-ASCII first argument launching the launcher, a second
// argument naming a saved result), the launcher found in the program's own folder, the keep-awake
// hold, and the launcher's choice of language.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Localization.h"
#include "platform/foundation/UserDefaults.h"
#include "ui/shell/LoaderLanguage.h"
#include "ui/shell/ProcessStart.h"
#include "ui/shell/ShellSandbox.h"
#include "uisupport/FakeServices.h"

namespace {

namespace defaults_key = brelvox::foundation::defaults_key;

struct StartCase {
    const char* name;
    std::vector<std::string> arguments;  // after the program's name
    bool loaderStarts;                   // what the launch answers
    // Expected:
    bool launchesLoader;
    std::optional<int> returns;
    std::string language;  // "AppleLanguages" after the start ("previous": untouched)
    std::string rsfPath;   // "rsfPath" after the start ("old.Brelvox": untouched)
};

std::optional<int> Start(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "brelvox");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return shell::StartProcess(int(arguments.size()), argv.data());
}

TEST(ProcessStart, TheArgumentsChooseTheLanguageOrTheLauncherAndNameTheSavedResult) {
    const StartCase cases[] = {
        {"language with the marker", {"en*loaderflag*"}, true, false, std::nullopt, "en", ""},
        {"language without the marker", {"de"}, true, false, std::nullopt, "de", ""},
        {"only the marker", {"*loaderflag*"}, true, false, std::nullopt, "", ""},
        {"no argument", {}, true, true, 0, "previous", "old.Brelvox"},
        {"empty argument", {""}, true, true, 0, "previous", "old.Brelvox"},
        {"non-ASCII argument", {"\xe6\x97\xa5\xe6\x9c\xac"}, true, true, 0, "previous", "old.Brelvox"},
        {"non-ASCII with the marker", {"fr\xc3\xa9*loaderflag*"}, true, true, 0, "previous", "old.Brelvox"},
        {"launcher missing: goes on", {}, false, true, std::nullopt, "previous", ""},
        {"empty, launcher missing", {""}, false, true, std::nullopt, "previous", ""},
        {"saved result second",
         {"fr*loaderflag*", "/home/u/scan 1.Brelvox"},
         true,
         false,
         std::nullopt,
         "fr",
         "/home/u/scan 1.Brelvox"},
        {".Brelvox inside the name", {"fr", "/r/a.Brelvox.bak"}, true, false, std::nullopt, "fr", "/r/a.Brelvox.bak"},
        {"another extension second", {"fr*loaderflag*", "/home/u/scan.rsf"}, true, false, std::nullopt, "fr", ""},
        {"the marker is case-sensitive", {"en", "/home/u/scan.brelvox"}, true, false, std::nullopt, "en", ""},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        shelltest::ShellSandbox sandbox;
        sandbox.defaults.SetStringArray(defaults_key::kAppleLanguages, {"previous"});
        sandbox.defaults.SetString(defaults_key::kRsfPath, "old.Brelvox");
        uitest::RecordingLauncher launcher;
        launcher.answer = c.loaderStarts;
        uitest::RecordingKeepAwake hold;

        EXPECT_EQ(Start(c.arguments), c.returns);

        ASSERT_EQ(launcher.launched.size(), c.launchesLoader ? 1u : 0u);
        if (c.launchesLoader) {
            EXPECT_EQ(launcher.launched[0].program,
                      QCoreApplication::applicationDirPath().toStdString() + "/brelvox-launcher");
            EXPECT_TRUE(launcher.launched[0].arguments.empty());
        }
        EXPECT_EQ(sandbox.defaults.GetStringArray(defaults_key::kAppleLanguages), std::vector<std::string>{c.language});
        EXPECT_EQ(sandbox.defaults.GetString(defaults_key::kRsfPath), std::optional<std::string>(c.rsfPath));
        // The program that goes on holds the desktop awake; the one that ends does not.
        EXPECT_EQ(hold.calls,
                  c.returns ? std::vector<std::string>{} : std::vector<std::string>{"take:Brelvox is running"});
        // The texts follow the stored language at once.
        if (!c.launchesLoader) {
            EXPECT_EQ(brelvox::foundation::Localization::Main().Language(), c.language);
        }
    }
}

TEST(ProcessStart, TheKeepAwakeHoldIsReportedNotTakenWithoutADesktopAndGivenBackWhenTaken) {
    uitest::RecordingKeepAwake hold;
    EXPECT_FALSE(shell::PreventSleep());
    EXPECT_FALSE(hold.isHeld());
    shell::ReleasePreventObj();
    EXPECT_EQ(hold.calls, std::vector<std::string>{"take:Brelvox is running"});

    hold.available = true;
    EXPECT_TRUE(shell::PreventSleep());
    shell::ReleasePreventObj();
    EXPECT_EQ(hold.calls, (std::vector<std::string>{"take:Brelvox is running", "take:Brelvox is running", "release"}));
}

TEST(LoaderLanguage, AGivenTagWinsThenTheLocaleVariablesInOrderThenEnglish) {
    struct Case {
        const char* argument;
        shell::LocaleEnvironment environment;
        const char* language;
    };
    const Case cases[] = {
        {"ja", {"de", "fr_FR.UTF-8", "", "it_IT.UTF-8"}, "ja"},
        {"", {"de:en", "fr_FR.UTF-8", "", ""}, "de"},
        {"", {"", "fr_FR.UTF-8", "es_ES", "it_IT"}, "fr"},
        {"", {"", "", "es_ES.UTF-8@euro", "it_IT"}, "es"},
        {"", {"", "", "", "de_DE.UTF-8"}, "de"},
        {"", {"", "", "", "pt_BR.UTF-8"}, "pt-BR"},
        {"", {"", "", "", "pt_PT.UTF-8"}, "pt"},
        {"", {"", "", "", "zh_CN.UTF-8"}, "zh-Hans"},
        {"", {"", "", "", "zh_TW.UTF-8"}, "zh-Hant"},
        {"", {"", "", "", "C.UTF-8"}, "en"},
        {"", {"", "", "", "POSIX"}, "en"},
        {"", {"", "", "", ""}, "en"},
        // Nothing but a plain tag is passed on: a path or a format in a variable or the argument is not.
        {"../../etc", {"", "", "", "x/../y"}, "en"},
        {"%s%n", {"", "", "", "de;rm"}, "en"},
        {"", {"", "", "", "_DE"}, "en"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shell::LoaderLanguage(c.argument, c.environment), c.language)
            << "argument \"" << c.argument << "\", LANG \"" << c.environment.lang << "\"";
    }
}

}  // namespace
