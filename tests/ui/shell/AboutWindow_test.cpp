// The About window: the product's name and version, a link only where an address is configured;
// its bar's close button closes at once and ends the modal run, a close request fades on the kit's
// clock first.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include "ui/controls/TCImageWindow.h"
#include "ui/controls/TCWindowButton.h"
#include "ui/kit/Application.h"
#include "ui/kit/Scheduler.h"
#include "ui/shell/KXAboutWindowController.h"
#include "ui/shell/ShellSandbox.h"
#include "uisupport/FakeServices.h"
#include "uisupport/UiTest.h"

namespace {

using shell::KXAboutWindowController;

TEST(AboutWindow, ShowsTheNameTheVersionAndALinkOnlyWhereAnAddressIsConfigured) {
    KXAboutWindowController::RegisterNib();
    {
        shelltest::ShellSandbox sandbox;
        KXAboutWindowController about;
        ASSERT_NE(about.window(), nullptr);
        EXPECT_EQ(about.nameLabel->stringValue(), "Brelvox");
        EXPECT_EQ(about.versionLabel->stringValue(), "Version 0.1.0");
        EXPECT_EQ(about.titleLabel->stringValue(), "Brelvox");
        EXPECT_TRUE(about.aboutlink->isHidden());
        EXPECT_TRUE(about.aboutlinkLine->isHidden());
    }
    shelltest::ShellSandbox sandbox({{"en", {{"AboutURL", "https://brelvox.invalid/about"}}}});
    uitest::RecordingUrlOpener opener;
    KXAboutWindowController about;
    ASSERT_TRUE(uitest::ShowAndActivate(about.window()));
    EXPECT_FALSE(about.aboutlink->isHidden());
    EXPECT_EQ(about.aboutlink->stringValue(), "Visit the Brelvox web site");
    // The line lies under the link's text, as wide as it.
    EXPECT_EQ(about.aboutlinkLine->frame().y(), about.aboutlink->frame().y() - 1);
    EXPECT_GT(about.aboutlinkLine->frame().width(), 50);
    EXPECT_LT(about.aboutlinkLine->frame().width(), about.aboutlink->frame().width());
    about.linkButtonAction();
    EXPECT_EQ(opener.opened, std::vector<std::string>{"https://brelvox.invalid/about"});
}

TEST(AboutWindow, TheBarsCloseButtonClosesAtOnceAndEndsTheModalRun) {
    shelltest::ShellSandbox sandbox;
    KXAboutWindowController::RegisterNib();
    KXAboutWindowController about;
    kit::ScopedManualClock clock;
    uitest::ScopedAnimations animations;
    bool visibleInRun = false;
    bool closedAtOnce = false;
    QTimer::singleShot(0, [&] {
        visibleInRun = about.window()->isVisible();
        about.imageWindow()->standardWindowButton(TCImageWindow::kCloseButton)->click();
        closedAtOnce = !about.window()->isVisible();
    });
    about.runModal();
    EXPECT_TRUE(visibleInRun);
    EXPECT_TRUE(closedAtOnce);
    EXPECT_EQ(kit::Application::shared().modalDepth(), 0u);
}

TEST(AboutWindow, ACloseRequestFadesOnTheKitsClockThenClosesAndEndsTheRun) {
    shelltest::ShellSandbox sandbox;
    KXAboutWindowController::RegisterNib();
    KXAboutWindowController about;
    kit::ScopedManualClock clock;
    uitest::ScopedAnimations animations;
    std::vector<double> alphas;
    std::vector<bool> visible;
    QTimer::singleShot(0, [&] {
        clock.advance(0.3);  // the fade in
        about.window()->performClose();
        for (int step = 0; step < 3; ++step) {
            alphas.push_back(about.window()->alphaValue());
            visible.push_back(about.window()->isVisible());
            clock.advance(0.1);
        }
        visible.push_back(about.window()->isVisible());
    });
    about.runModal();
    ASSERT_EQ(alphas.size(), 3u);
    EXPECT_DOUBLE_EQ(alphas[0], 1.0);
    EXPECT_GT(alphas[1], 0.4);
    EXPECT_LT(alphas[1], 0.8);
    EXPECT_LT(alphas[2], alphas[1]);
    EXPECT_EQ(visible, (std::vector<bool>{true, true, true, false}));
    EXPECT_EQ(kit::Application::shared().modalDepth(), 0u);
}

}  // namespace
