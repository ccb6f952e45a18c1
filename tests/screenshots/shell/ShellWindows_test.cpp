// Pictures of the shell's windows for review (build/artifacts/screenshots/shell/): the update window
// in each of its four faces, the About window and the quit alert. Each is probed at a few points: the
// white drawn bar, the face's own parts, the link's colour.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QTimer>

#include "support/FakeUIController.h"
#include "ui/kit/Application.h"
#include "ui/kit/Scheduler.h"
#include "ui/kit/Window.h"
#include "ui/shell/KXAboutWindowController.h"
#include "ui/shell/KXAppDelegate.h"
#include "ui/shell/KXCheckUpdateWindowController.h"
#include "ui/shell/ShellSandbox.h"
#include "uisupport/FakeServices.h"
#include "uisupport/UiTest.h"

#ifndef BRELVOX_SCREENSHOT_DIR
#define BRELVOX_SCREENSHOT_DIR BRELVOX_BINARY_DIR "/artifacts/screenshots/shell"
#endif

namespace {

using shell::KXCheckUpdateWindowController;
using Face = KXCheckUpdateWindowController::Face;

// Saves what widget shows as name.png in the suite's folder and answers the picture.
QImage Keep(QWidget* widget, const QString& name) {
    uitest::ProcessEvents();
    const QImage image = widget->grab().toImage();
    const QString folder = QStringLiteral(BRELVOX_SCREENSHOT_DIR);
    EXPECT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(image.save(folder + "/" + name + ".png", "PNG")) << name.toStdString();
    return image;
}

QColor At(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

// Whether some pixel of the row band [top, bottom) is dark enough to be text.
bool HasText(const QImage& image, int top, int bottom, int left = 0, int right = -1) {
    if (right < 0) right = image.width();
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            if (qGray(image.pixel(x, y)) < 120) return true;
    return false;
}

std::string List(const std::string& entries) {
    return "<plist version=\"1.0\"><dict>" + entries + "</dict></plist>";
}

struct UpdateFace {
    const char* name;
    std::optional<std::string> body;  // none: no answer (the checking face) or the time-out
    bool timeOut;
    Face face;
};

TEST(ShellWindows, TheUpdateWindowsFourFaces) {
    const UpdateFace faces[] = {
        {"update-checking", std::nullopt, false, Face::Checking},
        {"update-no-network", std::nullopt, true, Face::NoNetwork},
        {"update-up-to-date", List("<key>VersionCheck</key><integer>1</integer>"), false, Face::NoUpdate},
        {"update-newer",
         List("<key>VersionCheck</key><integer>2</integer><key>Version</key><string>1.2</string>"
              "<key>1</key><string>Deleted files of exFAT volumes are found faster.</string>"
              "<key>2</key><string>The update window measures its items as it draws them, so a long "
              "item wraps over several lines without covering the next one.</string>"
              "<key>3</key><string>New icons.</string>"),
         false, Face::HaveUpdate},
    };
    KXCheckUpdateWindowController::RegisterNib();
    for (const UpdateFace& f : faces) {
        SCOPED_TRACE(f.name);
        shelltest::ShellSandbox sandbox({{"en", {{"IniURL", "https://updates.invalid/versions.plist"}}}}, 1);
        kit::ScopedManualClock clock;
        uitest::RecordingFetcher fetcher;
        KXCheckUpdateWindowController update;
        ASSERT_TRUE(uitest::ShowAndActivate(update.window()));
        if (f.body) fetcher.answerBody(0, *f.body);
        if (f.timeOut) clock.advance(shell::kVersionListTimeoutSeconds);
        uitest::ProcessEvents();
        ASSERT_EQ(update.face(), f.face);
        const QImage image = Keep(update.window(), f.name);
        ASSERT_EQ(image.size(), QSize(460, 330));
        EXPECT_EQ(At(image, 440, 5), QColor(Qt::white)) << uitest::Rgb(At(image, 440, 5));
        // The application's title in the bar.
        EXPECT_TRUE(HasText(image, 3, 22, 80, 200));
        if (f.face == Face::HaveUpdate) {
            // The heading and the first item's text, drawn below it.
            EXPECT_TRUE(HasText(image, 25 + 305 - 286, 25 + 305 - 262));
            EXPECT_TRUE(HasText(image, 25 + 305 - 230, 25 + 305 - 205, 15, 395));
        } else {
            EXPECT_TRUE(HasText(image, 25 + 100, 25 + 190));
        }
    }
}

TEST(ShellWindows, TheAboutWindow) {
    shelltest::ShellSandbox sandbox({{"en", {{"AboutURL", "https://brelvox.invalid/"}}}});
    shell::KXAboutWindowController::RegisterNib();
    shell::KXAboutWindowController about;
    ASSERT_TRUE(uitest::ShowAndActivate(about.window()));
    const QImage image = Keep(about.window(), "about");
    ASSERT_EQ(image.size(), QSize(360, 210));
    EXPECT_EQ(At(image, 340, 4), QColor(Qt::white));
    // The logo's blue, the name and the link's colour.
    EXPECT_EQ(At(image, 180, 22 + 188 - 110 - 32), QColor(53, 130, 248)) << uitest::Rgb(At(image, 180, 68));
    EXPECT_TRUE(HasText(image, 22 + 188 - 102, 22 + 188 - 78));
    // The line's frame is (x, 21, w, 1) in the content's y-up coordinates, 188 high below a 22 bar.
    const int lineY = 22 + 188 - 21 - 1;
    EXPECT_EQ(At(image, 180, lineY), QColor(24, 90, 166)) << uitest::Rgb(At(image, 180, lineY));
}

TEST(ShellWindows, TheQuitAlert) {
    shelltest::ShellSandbox sandbox;
    testsupport::FakeUIController controller;
    controller.SetScanState(true, false);
    shell::KXAppDelegate::Options options;
    options.controller = &controller;
    shell::KXAppDelegate delegate(options);
    QImage image;
    QString continueTitle;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(kit::Application::shared().modalWidget());
        if (!box || !box->isVisible()) return;
        watch.stop();
        image = Keep(box, "quit-alert");
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == "Continue") {
                continueTitle = button->text();
                button->click();
            }
        }
    });
    watch.start(10);
    EXPECT_EQ(delegate.applicationShouldTerminate(), shell::KXAppDelegate::TerminateReply::Cancel);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(continueTitle, "Continue");
    EXPECT_FALSE(controller.IsPause());
    // The warning image's amber stands in the box's icon place.
    bool amber = false;
    for (int y = 0; y < image.height() && !amber; ++y)
        for (int x = 0; x < image.width() / 3 && !amber; ++x) amber = At(image, x, y) == QColor(248, 178, 40);
    EXPECT_TRUE(amber);
}

}  // namespace
