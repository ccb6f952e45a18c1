// The real brelvox program on the X display the screenshots phase of the test command gives (a virtual
// one, xvfb-run), started as the launcher starts it: with the test switch it saves its first window as
// the window system shows it (kept for review in the suite's folder of build/artifacts/screenshots/) and
// ends with 0; the test probes the drawn bar and the progress strip at known points of the kit demo.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "ui/app/KitDemoWindowController.h"
#include "uisupport/UiTest.h"

namespace {

TEST(Screenshot, TheFirstWindowShowsTheWhiteBarAndTheProgressStrip) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "no display: the test command runs this suite under xvfb-run";
    const QString program = QStringLiteral(BRELVOX_BINARY_DIR "/src/ui/brelvox");
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();

    const QString folder = QStringLiteral(BRELVOX_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString shot = folder + "/brelvox-first-window.png";
    QFile::remove(shot);

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("BRELVOX_SCREENSHOT", shot);
    env.insert("XDG_CONFIG_HOME", home.path());
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("DBUS_SESSION_BUS_ADDRESS", uitest::kNoSessionBus);
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {"en*loaderflag*"});
    ASSERT_TRUE(process.waitForFinished(60000)) << "brelvox did not end";
    ASSERT_EQ(process.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(process.exitCode(), 0) << process.readAll().toStdString();

    const QImage image(shot);
    ASSERT_FALSE(image.isNull()) << "no screenshot at " << shot.toStdString();
    ASSERT_EQ(image.size(), QSize(int(kit_demo::kWidth), int(kit_demo::kHeight)));

    auto at = [&](double x, double y) { return QColor(image.pixel(int(x), int(y))); };
    const double w = kit_demo::kWidth;
    // The bar, away from the buttons on the left and the title in the middle.
    EXPECT_EQ(at(w * 0.75, 30), QColor(Qt::white)) << uitest::Rgb(at(w * 0.75, 30));
    EXPECT_EQ(at(w * 0.25, kit_demo::kBarHeight - 1), QColor(Qt::white));
    // The strip: blue up to 53 % of the width, the grey track after it.
    const double strip = kit_demo::kProgressTop + kit_demo::kProgressHeight / 2;
    EXPECT_EQ(at(10, strip), QColor(53, 130, 248)) << uitest::Rgb(at(10, strip));
    EXPECT_EQ(at(w * 0.53 - 3, strip), QColor(53, 130, 248));
    EXPECT_EQ(at(w * 0.53 + 3, strip), QColor(194, 198, 204)) << uitest::Rgb(at(w * 0.53 + 3, strip));
    EXPECT_EQ(at(w - 2, strip), QColor(194, 198, 204));
    // The close button of the key window, red, stands where the layout put it (x 8..22, y 12..28).
    const QColor close = at(kit_demo::kButtonsLeftMargin + 7, 20);
    EXPECT_GT(close.red() - close.blue(), 80) << uitest::Rgb(close);
}

}  // namespace
