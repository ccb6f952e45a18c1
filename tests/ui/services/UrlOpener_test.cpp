// Opening a URL or a path: the desktop's opener turns a path into a file URL, takes URLs with a
// scheme as they are and refuses what is neither; the recording opener stands in for it in the
// windows' tests.
#include <gtest/gtest.h>

#include <QUrl>

#include "ui/kit/UrlOpener.h"
#include "uisupport/FakeServices.h"

namespace {

TEST(UrlOpener, TheDesktopOpenerTakesUrlsAndAbsolutePathsAndRefusesTheRest) {
    struct Case {
        std::string target;
        QString url;  // empty: refused
    };
    const Case cases[] = {
        {"https://example.invalid/help?lang=en", "https://example.invalid/help?lang=en"},
        {"mailto:support@example.invalid", "mailto:support@example.invalid"},
        {"/tmp/Recovered Data 2024", "file:///tmp/Recovered Data 2024"},
        {"/tmp/100%/#1", "file:///tmp/100%25/%231"},
        {"file:///media/stick/a.txt", "file:///media/stick/a.txt"},
        {"", ""},
        {"relative/folder", ""},
        {"just words", ""},
        {"http://[broken", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const QUrl url = kit::DesktopUrlOpener::urlFor(c.target);
        EXPECT_EQ(url.isValid(), !c.url.isEmpty());
        if (url.isValid()) {
            EXPECT_EQ(url.toString(QUrl::FullyEncoded), QUrl(c.url).toString(QUrl::FullyEncoded));
        }
    }
    // Offscreen the desktop opens nothing, and says so.
    kit::DesktopUrlOpener opener;
    EXPECT_FALSE(opener.open(""));
    EXPECT_FALSE(opener.open("https://example.invalid/"));
}

TEST(UrlOpener, TheRecordingOpenerStandsInWhileItLivesAndRecordsInOrder) {
    kit::UrlOpener* desktop = &kit::UrlOpener::current();
    EXPECT_NE(dynamic_cast<kit::DesktopUrlOpener*>(desktop), nullptr);
    {
        uitest::RecordingUrlOpener recording;
        EXPECT_EQ(&kit::UrlOpener::current(), &recording);
        EXPECT_TRUE(kit::UrlOpener::current().open("https://example.invalid/a"));
        recording.answer = false;
        EXPECT_FALSE(kit::UrlOpener::current().open("/home/u/Recovered"));
        EXPECT_EQ(recording.opened, (std::vector<std::string>{"https://example.invalid/a", "/home/u/Recovered"}));
    }
    EXPECT_EQ(&kit::UrlOpener::current(), desktop);
}

}  // namespace
