// The real brelvox under a virtual X display, started as the launcher starts it ("en*loaderflag*"):
// it opens its first window and quits through the main menu's Quit item (the test switch chooses it
// once the window shows) with exit code 0. A statistics plugin where the lookup finds it (the work
// folder) records nothing while the user has not chosen to take part, and the calls of a run when
// they have. Started bare, brelvox starts the launcher beside it, which starts brelvox again in the
// locale's language.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>
#include <filesystem>
#include <fstream>

#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"
#include "ui/shell/SmartSpy.h"
#include "ui/shell/UsageStatistics.h"
#include "uisupport/UiTest.h"

namespace {

namespace defaults_key = brelvox::foundation::defaults_key;

// Runs brelvox under xvfb-run with a fresh settings folder and the plugin's copy in its work folder.
uitest::ProgramRun QuitThroughTheMenu(const testsupport::TempDir& home, const testsupport::TempDir& work) {
    const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
    const QString program = QStringLiteral(BRELVOX_BINARY_DIR "/src/ui/brelvox");
    EXPECT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(home.str()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(home.str()));
    env.insert("BRELVOX_WORK_DIR", QString::fromStdString(work.str()));
    env.insert("TELVORN_FAKE_LOG", QString::fromStdString((work / "calls.log").string()));
    env.insert("BRELVOX_TEST", "menu-item=exit");
    return uitest::RunProgram(xvfbRun, {"-a", "-s", "-screen 0 1280x800x24", program, "en*loaderflag*"}, env);
}

std::vector<std::string> Lines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class Program : public testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("xvfb-run").isEmpty())
            GTEST_SKIP() << "no virtual display (xvfb-run is missing)";
        std::filesystem::copy_file(BRELVOX_FAKE_TELVORN, work / telvorn::kLibraryName);
    }
    testsupport::TempDir home;
    testsupport::TempDir work;
};

TEST_F(Program, OpensItsFirstWindowAndQuitsThroughTheMenuWithoutTouchingTheStatisticsPlugin) {
    const uitest::ProgramRun run = QuitThroughTheMenu(home, work);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_EQ(run.output.indexOf("never showed"), -1) << run.output.toStdString();
    EXPECT_FALSE(std::filesystem::exists(work / "calls.log")) << "the plugin was loaded";
    // The first run stored its choice: no statistics.
    brelvox::foundation::UserDefaults defaults((home / "Brelvox" / "UserDefaults.plist").string());
    EXPECT_FALSE(defaults.GetBool(defaults_key::kParticipate, true));
}

TEST_F(Program, TheSamePluginGetsTheCallsOfARunOnceTheUserTakesPart) {
    std::filesystem::create_directories(home / "Brelvox");
    brelvox::foundation::UserDefaults((home / "Brelvox" / "UserDefaults.plist").string())
        .SetBool(defaults_key::kParticipate, true);
    const uitest::ProgramRun run = QuitThroughTheMenu(home, work);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    const std::string endpoint = std::string("8(3584,") + shell::UsageStatistics::kEndpoint + ")";
    EXPECT_EQ(Lines(work / "calls.log"), (std::vector<std::string>{"loaded", "InstallSpy(1," + work.str() + ")",
                                                                   "GetSmartSpy", endpoint, "2(7,5)", "0"}));
}

TEST_F(Program, WithoutThePluginATakingPartUserStillQuitsCleanly) {
    std::filesystem::remove(work / telvorn::kLibraryName);
    std::filesystem::create_directories(home / "Brelvox");
    brelvox::foundation::UserDefaults((home / "Brelvox" / "UserDefaults.plist").string())
        .SetBool(defaults_key::kParticipate, true);
    const uitest::ProgramRun run = QuitThroughTheMenu(home, work);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_FALSE(std::filesystem::exists(work / "calls.log"));
}

TEST(Launcher, BrelvoxStartedBareStartsTheLauncherBesideItWhichStartsItAgainInTheLocalesLanguage) {
    const QString program = QStringLiteral(BRELVOX_BINARY_DIR "/src/ui/brelvox");
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    ASSERT_TRUE(QFileInfo(QStringLiteral(BRELVOX_BINARY_DIR "/src/ui/brelvox-launcher")).isExecutable());
    testsupport::TempDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(home.str()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(home.str()));
    env.remove("LANGUAGE");
    env.remove("LC_ALL");
    env.remove("LC_MESSAGES");
    env.insert("LANG", "de_DE.UTF-8");
    // The program started by the launcher quits through its menu once its window shows.
    env.insert("BRELVOX_TEST", "menu-item=exit");
    const uitest::ProgramRun run = uitest::RunProgram(program, {}, env);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();

    // The second brelvox stores the language it was given.
    brelvox::foundation::UserDefaults defaults((home / "Brelvox" / "UserDefaults.plist").string());
    QDeadlineTimer patience(60000);
    while (defaults.GetStringArray(defaults_key::kAppleLanguages).empty() && !patience.hasExpired()) {
        QThread::msleep(50);
        defaults.Reload();
    }
    EXPECT_EQ(defaults.GetStringArray(defaults_key::kAppleLanguages), std::vector<std::string>{"de"});
}

}  // namespace
