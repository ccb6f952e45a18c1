// The program's composition: the real brelvox, offscreen under its test switch, names the type
// tree's roots in English with an icon each and closes with 0; in the process, the root installs the
// adapter, the kit's icon provider and decoder and the three hooks, and takes them out again.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Preview/IImageDecoder.h"
#include "bridge/UIController/UIControllerAdapter.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FakeUIController.h"
#include "ui/app/CompositionRoot.h"
#include "ui/app/TestSwitch.h"
#include "ui/kit/IconProvider.h"
#include "ui/kit/ImageDecoder.h"
#include "uisupport/UiTest.h"

namespace {

using brelvox::foundation::UserDefaults;
namespace defaults_key = brelvox::foundation::defaults_key;

// Runs the real program offscreen, as the launcher starts it, with the test switch set to settings, in
// a fresh settings folder.
uitest::ProgramRun RunBrelvox(const QString& settings) {
    const QString program = QStringLiteral(BRELVOX_BINARY_DIR "/src/ui/brelvox");
    EXPECT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", home.path());
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert(app::TestSwitch::kVariable, settings);
    return uitest::RunProgram(program, {"en*loaderflag*"}, env);
}

TEST(CompositionRoot, TheProgramNamesTheSevenTypeRootsInEnglishWithAnIconEach) {
    QTemporaryDir dir;
    const QString report = dir.filePath("roots.txt");
    const uitest::ProgramRun run = RunBrelvox("type-roots=" + report);
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "no report at " << report.toStdString();
    EXPECT_EQ(QString::fromUtf8(file.readAll()),
              "1\tDocuments\t2IconImage\t16x16\n"
              "2\tPictures\t3IconImage\t16x16\n"
              "4\tMovies\t4IconImage\t16x16\n"
              "8\tMusic\t5IconImage\t16x16\n"
              "16\tArchives\t6IconImage\t16x16\n"
              "32\tE-mail\t7IconImage\t16x16\n"
              "64\tOther\t8IconImage\t16x16\n");
}

TEST(CompositionRoot, AnUnknownTestSettingEndsTheProgramWithTwoAndSaysWhich) {
    const uitest::ProgramRun run = RunBrelvox("type-roots=/dev/null;no-such-setting=1");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.output.contains("unknown test setting \"no-such-setting\"")) << run.output.toStdString();
}

TEST(CompositionRoot, InstallsTheAdapterTheKitsServicesAndTheHooksAndTakesThemOutAgain) {
    testsupport::FakeUIController fake;
    testsupport::ScopedUIController previous(&fake);
    std::vector<std::string> statistics;
    {
        app::CompositionRoot root({.statisticsEnd = [&] { statistics.push_back("end"); },
                                   .copyIconDataForPath = [](const std::string& path) -> std::optional<std::string> {
                                       return "icon of " + path;
                                   }});
        EXPECT_EQ(GetUIController(), &root.controller());
        EXPECT_NE(dynamic_cast<UIControllerAdapter*>(GetUIController()), nullptr);
        EXPECT_NE(dynamic_cast<kit::IconProvider*>(GetIconProvider()), nullptr);
        EXPECT_NE(dynamic_cast<kit::ImageDecoder*>(GetImageDecoder()), nullptr);
        EXPECT_EQ(volume_notifier::CopyIconDataForPath("/media/INSIDE"), "icon of /media/INSIDE");

        // The statistics end only when the user takes part.
        for (bool participate : {false, true}) {
            ASSERT_TRUE(UserDefaults::Standard().SetBool(defaults_key::kParticipate, participate));
            KXUIController::SpyIDEnd();
        }
        UserDefaults::Standard().Remove(defaults_key::kParticipate);
        EXPECT_EQ(statistics, std::vector<std::string>{"end"});

        // The close leaves the event loop, a nested one included, once control is back in it.
        bool closed = false;
        int nestedEnded = -1;
        QTimer::singleShot(0, [&] {
            QEventLoop nested;
            QTimer::singleShot(0, [&] { closed = root.controller().CloseApp(); });
            nestedEnded = nested.exec();
        });
        // A guard against a hang only: the close asks for code 0.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(60000);
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_TRUE(closed);
        EXPECT_EQ(nestedEnded, 0);
    }
    EXPECT_EQ(GetUIController(), &fake);
    EXPECT_EQ(volume_notifier::CopyIconDataForPath("/media/INSIDE"), std::nullopt);
    EXPECT_EQ(GetIconProvider(), nullptr);
    EXPECT_EQ(GetImageDecoder(), nullptr);
    // No hook is left behind: a close now calls nothing of the root's.
    ASSERT_TRUE(UserDefaults::Standard().SetBool(defaults_key::kParticipate, true));
    KXUIController::SpyIDEnd();
    UserDefaults::Standard().Remove(defaults_key::kParticipate);
    EXPECT_EQ(statistics, std::vector<std::string>{"end"});
}

TEST(TestSwitch, SettingsAreReadAndUnknownNamesRefused) {
    struct Case {
        std::string value;
        bool valid;
        std::optional<std::string> typeRoots;
    };
    const Case cases[] = {
        {"", true, std::nullopt},
        {" ; ;", true, std::nullopt},
        {"type-roots=/tmp/a b.txt", true, "/tmp/a b.txt"},
        {" type-roots = /tmp/r.txt ;", true, "/tmp/r.txt"},
        {"type-roots", true, ""},
        {"type-roots=/a;type-roots=/b", true, "/b"},
        {"type-roots=/a;quit-now", false, std::nullopt},
        {"=x", false, std::nullopt},
        {"TYPE-ROOTS=/a", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::string error;
        const auto settings = app::TestSwitch::Parse(c.value, &error);
        ASSERT_EQ(settings.has_value(), c.valid) << error;
        if (!settings) {
            EXPECT_NE(error.find("unknown test setting"), std::string::npos);
            continue;
        }
        EXPECT_EQ(settings->value("type-roots"), c.typeRoots);
        EXPECT_EQ(settings->has("type-roots"), c.typeRoots.has_value());
    }
}

}  // namespace
