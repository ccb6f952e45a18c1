// The update check: the due table (first run, 6 days 23 hours, 7 days, a stamp in the future), the
// version list as read, and the update window's faces by a fake fetch: no address or no answer in
// time gives "no network" (the window turning on its checking face until the clock passes the
// time-out), an equal version "up to date", a newer one the list laid out by measured height.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/kit/Button.h"
#include "ui/kit/ProgressIndicator.h"
#include "ui/kit/Scheduler.h"
#include "ui/kit/ScrollView.h"
#include "ui/shell/KXCheckUpdateWindowController.h"
#include "ui/shell/ShellSandbox.h"
#include "ui/shell/UpdateCheck.h"
#include "uisupport/FakeServices.h"
#include "uisupport/UiTest.h"

namespace {

using shell::KXCheckUpdateWindowController;
using shell::UpdateDue;
using Face = KXCheckUpdateWindowController::Face;

const QDateTime kNow = QDateTime::fromString("2024-03-15 12:00:00", "yyyy-MM-dd HH:mm:ss");

TEST(UpdateCheck, ACheckIsDueSevenWholeDaysAfterTheStampAndOnTheFirstRun) {
    struct Case {
        std::optional<std::string> stamp;
        UpdateDue due;
    };
    const Case cases[] = {
        {std::nullopt, UpdateDue::FirstRun},
        {"", UpdateDue::FirstRun},
        {" ", UpdateDue::FirstRun},
        {"2024-03-08 13:00:00", UpdateDue::NotDue},  // 6 days 23 hours
        {"2024-03-08 12:00:01", UpdateDue::NotDue},  // a second short of 7 days
        {"2024-03-08 12:00:00", UpdateDue::Due},     // 7 days
        {"2023-01-01 00:00:00", UpdateDue::Due},
        {"2024-03-15 12:00:00", UpdateDue::NotDue},
        {"2024-03-20 12:00:00", UpdateDue::NotDue},  // in the future: -5 days
        {"2030-01-01 00:00:00", UpdateDue::NotDue},
        // A stamp that does not read would never let a check come again.
        {"yesterday", UpdateDue::Due},
        {"2024-13-45 99:00:00", UpdateDue::Due},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shell::UpdateDecision(c.stamp, kNow), c.due) << "stamp \"" << c.stamp.value_or("none") << "\"";
    }
    EXPECT_EQ(shell::FormatUpdateStamp(kNow), "2024-03-15 12:00:00");
}

std::string List(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" + entries + "</dict></plist>";
}

TEST(UpdateCheck, TheVersionListReadsItsVersionAndItsItemsInNumericOrderSkippingGaps) {
    auto list =
        shell::ParseVersionList(List("<key>VersionCheck</key><string>12</string><key>Version</key>"
                                     "<string>2.0</string><key>10</key><string>ten</string><key>3</key>"
                                     "<string>three</string><key>1</key><string>one</string><key>x</key>"
                                     "<string>not an item</string><key>04</key><string>no</string>"
                                     "<key>5</key><integer>5</integer>"));
    EXPECT_EQ(list.outcome, shell::VersionList::Outcome::Read);
    EXPECT_EQ(list.versionCheck, 12);
    EXPECT_EQ(list.version, "2.0");
    EXPECT_EQ(list.items, (std::vector<std::string>{"one", "three", "ten"}));
    EXPECT_TRUE(list.isNewerThan(11));
    EXPECT_FALSE(list.isNewerThan(12));
    // A list that does not read counts as version 0.
    for (const std::string& body :
         {std::string(), std::string("<html>"), std::string("\x62\x70\x6c\x69\x73\x74\x30\x30")}) {
        const auto bad = shell::ParseVersionList(body);
        EXPECT_EQ(bad.outcome, shell::VersionList::Outcome::Read);
        EXPECT_EQ(bad.versionCheck, 0);
        EXPECT_TRUE(bad.items.empty());
    }
    // Signed 32-bit comparison, as the numbers were kept.
    shell::VersionList wrapped;
    wrapped.versionCheck = 0x100000002;
    EXPECT_FALSE(wrapped.isNewerThan(3));
    EXPECT_TRUE(wrapped.isNewerThan(1));
}

// A sandbox whose "IniURL" is an address no one answers but the fake fetcher.
struct UpdateWindow {
    explicit UpdateWindow(int localVersion = 5)
        : sandbox({{"en",
                    {{"IniURL", "https://updates.invalid/versions.plist"},
                     {"ProUpdateURL", "https://updates.invalid/download"}}}},
                  localVersion) {
        KXCheckUpdateWindowController::RegisterNib();
    }
    KXCheckUpdateWindowController& load() {
        controller.window();
        return controller;
    }
    shelltest::ShellSandbox sandbox;
    kit::ScopedManualClock clock;
    uitest::RecordingFetcher fetcher;
    uitest::RecordingUrlOpener opener;
    KXCheckUpdateWindowController controller;
};

bool Turning(const kit::ProgressIndicator* bar) {
    return bar->minimum() == 0 && bar->maximum() == 0;
}

TEST(UpdateWindow, AFetchThatNeverAnswersKeepsTheCheckingFaceTurningUntilTheTimeOutThenNoNetwork) {
    UpdateWindow update;
    auto& window = update.load();
    ASSERT_EQ(update.fetcher.requests().size(), 1u);
    EXPECT_EQ(update.fetcher.requests()[0].url, "https://updates.invalid/versions.plist");
    EXPECT_EQ(window.face(), Face::Checking);
    EXPECT_TRUE(Turning(window.progressBar));
    EXPECT_FALSE(window.checkProgressView->isHidden());

    update.clock.advance(shell::kVersionListTimeoutSeconds - 0.5);
    uitest::ProcessEvents();
    EXPECT_EQ(window.face(), Face::Checking);
    EXPECT_TRUE(Turning(window.progressBar));

    update.clock.advance(0.5);
    uitest::ProcessEvents();
    EXPECT_EQ(window.face(), Face::NoNetwork);
    EXPECT_FALSE(Turning(window.progressBar));
    EXPECT_TRUE(update.fetcher.requests()[0].cancelled);
    EXPECT_TRUE(window.checkProgressView->isHidden());
    EXPECT_FALSE(window.noNetworkView->isHidden());
}

TEST(UpdateWindow, TheFacesFollowTheAnswer) {
    struct Case {
        const char* name;
        std::optional<kit::FetchResult> answer;  // none: answered with body
        std::string body;
        Face face;
    };
    kit::FetchResult refused;
    refused.status = kit::FetchResult::Status::Failed;
    refused.httpStatus = 404;
    kit::FetchResult noConnection;
    noConnection.status = kit::FetchResult::Status::Failed;
    const Case cases[] = {
        {"equal version", std::nullopt, List("<key>VersionCheck</key><integer>5</integer>"), Face::NoUpdate},
        {"older version", std::nullopt, List("<key>VersionCheck</key><integer>4</integer>"), Face::NoUpdate},
        {"newer version", std::nullopt,
         List("<key>VersionCheck</key><integer>6</integer><key>Version</key>"
              "<string>1.1</string><key>1</key><string>Faster.</string>"),
         Face::HaveUpdate},
        {"not a list", std::nullopt, "<html>busy</html>", Face::NoUpdate},
        {"refused by the server", refused, "", Face::NoUpdate},
        {"no connection", noConnection, "", Face::NoNetwork},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateWindow update;
        auto& window = update.load();
        ASSERT_EQ(update.fetcher.requests().size(), 1u);
        if (c.answer) {
            update.fetcher.answer(0, *c.answer);
        } else {
            update.fetcher.answerBody(0, c.body);
        }
        uitest::ProcessEvents();
        EXPECT_EQ(window.face(), c.face);
        EXPECT_FALSE(Turning(window.progressBar));
        int shown = 0;
        for (kit::View* face :
             {window.checkProgressView, window.noNetworkView, window.noUpdateView, window.haveUpdateView})
            shown += face->isHidden() ? 0 : 1;
        EXPECT_EQ(shown, 1);
    }
}

TEST(UpdateWindow, WithoutAnAddressNothingIsFetchedAndTheFaceIsNoNetwork) {
    shelltest::ShellSandbox sandbox;
    uitest::RecordingFetcher fetcher;
    KXCheckUpdateWindowController::RegisterNib();
    KXCheckUpdateWindowController controller;
    ASSERT_NE(controller.window(), nullptr);
    EXPECT_TRUE(fetcher.requests().empty());
    EXPECT_EQ(controller.face(), Face::NoNetwork);
}

TEST(UpdateWindow, ThreeShortItemsMakeAListOf99WithItemsAt74And49And24AndAGapIsSkipped) {
    UpdateWindow update;
    auto& window = update.load();
    update.fetcher.answerBody(
        0, List("<key>VersionCheck</key><integer>9</integer><key>Version</key><string>3.2</string>"
                "<key>1</key><string>Quicker scans.</string><key>2</key><string>Fewer clicks.</string>"
                "<key>4</key><string>New icons.</string>"));
    uitest::ProcessEvents();
    ASSERT_EQ(window.face(), Face::HaveUpdate);
    EXPECT_EQ(window.titleLable->stringValue(), "Brelvox 3.2 has been released.");
    EXPECT_EQ(window.versionLabel->stringValue(), "New features of Version 3.2:");
    EXPECT_EQ(window.showVersionScrollView->frame().height(), 99);
    EXPECT_EQ(window.showVersionScrollView->frame().width(), 430);
    ASSERT_EQ(window.itemLabels.size(), 3u);
    const char* texts[] = {"1.Quicker scans.", "2.Fewer clicks.", "3.New icons."};
    const char* tips[] = {"Quicker scans.", "Fewer clicks.", "New icons."};
    const double ys[] = {74, 49, 24};
    for (size_t i = 0; i < 3; ++i) {
        const kit::Label* item = window.itemLabels[i];
        EXPECT_EQ(item->stringValue(), texts[i]);
        EXPECT_EQ(item->toolTip(), tips[i]);
        EXPECT_EQ(item->frame().y(), ys[i]) << i;
        EXPECT_EQ(item->frame().height(), 25) << i;
        EXPECT_EQ(item->frame().width(), 380) << i;
        EXPECT_EQ(item->font().pixelSize(), 13);
    }
    // The download button opens the download page.
    window.updateButton->click();
    EXPECT_EQ(update.opener.opened, std::vector<std::string>{"https://updates.invalid/download"});
}

TEST(UpdateWindow, LongItemsAreMeasuredAsDrawnSoTheyRunFromTheTopWithoutOverlapping) {
    UpdateWindow update;
    auto& window = update.load();
    std::string words;
    for (int i = 0; i < 80; ++i) words += "recovered ";
    update.fetcher.answerBody(0, List("<key>VersionCheck</key><integer>9</integer><key>Version</key><string>4</string>"
                                      "<key>1</key><string>" +
                                      words + "</string><key>2</key><string>short</string>"));
    uitest::ProcessEvents();
    ASSERT_EQ(window.itemLabels.size(), 2u);
    const kit::Label* first = window.itemLabels[0];
    const kit::Label* second = window.itemLabels[1];
    const double listHeight = window.showVersionScrollView->frame().height();
    // The first item takes what its wrapped text needs at the width it is drawn in, and below it the
    // room a one-line item leaves under its line (25 less a line), so items stand evenly apart.
    const double line = second->heightForWidth(380);
    ASSERT_GT(line, 0);
    ASSERT_LT(line, 25);
    const double needed = first->heightForWidth(380) + (25 - line);
    EXPECT_GT(first->heightForWidth(380), 2 * line);
    EXPECT_EQ(first->frame().height(), needed);
    EXPECT_EQ(second->frame().height(), 25);
    EXPECT_EQ(first->frame().y() + first->frame().height(), listHeight);
    EXPECT_EQ(second->frame().y() + second->frame().height(), first->frame().y());
    EXPECT_EQ(listHeight, needed + 30);
}

TEST(UpdateWindow, TheBarsCloseButtonClosesAtOnceAndTellsTheStartUpDelegate) {
    struct Delegate : shell::UpdateWindowDelegate {
        int runs = 0;
        void runRootWindow() override { ++runs; }
    } delegate;
    UpdateWindow update;
    auto& window = update.load();
    window.setDelegate(&delegate);
    ASSERT_TRUE(uitest::ShowAndActivate(window.window()));
    window.closeWindow();
    EXPECT_FALSE(window.window()->isVisible());
    EXPECT_EQ(delegate.runs, 1);
    // Opened from the menu: no delegate, nothing further.
    window.setDelegate(nullptr);
    ASSERT_TRUE(uitest::ShowAndActivate(window.window()));
    window.closeWindowAction();
    EXPECT_EQ(delegate.runs, 1);
}

}  // namespace
