// Attributed text in labels and button titles: colours, underlines and fonts per run, links that reach
// a handler (by default the URL opener), and texts from disks shown exactly as written.
#include <gtest/gtest.h>

#include <QTextDocument>
#include <QtTest/QTest>
#include <string>
#include <vector>

#include "ui/kit/Button.h"
#include "ui/kit/TextField.h"
#include "ui/kit/UrlOpener.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;
using kit::MakeSize;

const QColor kLinkBlue(24, 90, 166);

struct RecordingOpener : kit::UrlOpener {
    RecordingOpener() { kit::UrlOpener::setCurrent(this); }
    ~RecordingOpener() override { kit::UrlOpener::setCurrent(nullptr); }
    bool open(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    std::vector<std::string> opened;
};

// The pixels of colour in image: how many, the longest horizontal run of them, and the first one.
struct ColourUse {
    int count = 0;
    int longestRow = 0;
    QPoint first{-1, -1};
};
ColourUse Find(const QImage& image, const QColor& colour) {
    ColourUse use;
    for (int y = 0; y < image.height(); ++y) {
        int row = 0;
        for (int x = 0; x < image.width(); ++x) {
            if (QColor(image.pixel(x, y)).rgb() == colour.rgb() && qAlpha(image.pixel(x, y)) == 255) {
                if (use.count++ == 0) use.first = QPoint(x, y);
                use.longestRow = std::max(use.longestRow, ++row);
            } else {
                row = 0;
            }
        }
    }
    return use;
}

// The path label of a recovery's end: the whole path blue, underlined, 12 points, a link to itself.
kit::AttributedString PathLink(const QString& path) {
    QFont font;
    font.setPixelSize(12);
    return kit::AttributedString().append({path, font, kLinkBlue, true, path});
}

TEST(AttributedText, ALinkRunShowsBlueUnderlinedAndAClickGivesItsAddress) {
    RecordingOpener opener;
    kit::Window window(MakeSize(400, 60));
    window.setBackgroundColor(Qt::white);
    auto* label = new kit::Label(MakeRect(10, 10, 380, 40));
    const QString path = "/media/rescue/Recovered files";
    label->setAttributedStringValue(PathLink(path));
    window.contentView()->addSubview(label);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));

    const ColourUse blue = Find(label->grab().toImage(), kLinkBlue);
    EXPECT_GT(blue.count, 20) << "the text is drawn in (24,90,166)";
    EXPECT_GT(blue.longestRow, 100) << "an underline runs under the whole path";
    EXPECT_EQ(label->stringValue(), path);

    // The default handler opens the address through the URL opener; a handler of the caller's
    // takes its place.
    const QPoint onText = blue.first + QPoint(2, 0);
    QTest::mouseClick(label, Qt::LeftButton, {}, onText);
    EXPECT_EQ(opener.opened, std::vector<std::string>{path.toStdString()});
    QString handled;
    label->setLinkHandler([&](const QString& link) { handled = link; });
    QTest::mouseClick(label, Qt::LeftButton, {}, onText);
    EXPECT_EQ(handled, path);
    EXPECT_EQ(opener.opened.size(), 1u);
}

TEST(AttributedText, TextsAndAddressesFromDisksShowExactlyAsWritten) {
    RecordingOpener opener;
    kit::Window window(MakeSize(400, 60));
    auto* label = new kit::Label(MakeRect(10, 10, 380, 40));
    window.contentView()->addSubview(label);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));

    const QString names[] = {"<b>x", "a & b", "\"quoted\" <script>", "  two  blanks  "};
    for (const QString& name : names) {
        label->setAttributedStringValue(kit::AttributedString(name));
        QTextDocument shown;
        shown.setHtml(label->text());
        EXPECT_EQ(shown.toPlainText(), name) << name.toStdString();
        EXPECT_EQ(label->stringValue(), name);
        label->setStringValue(name);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_EQ(label->text(), name);
    }

    const QString odd = "/tmp/a\"b<c>&d";
    label->setAttributedStringValue(kit::AttributedString().append({odd, {}, Qt::black, false, odd}));
    const ColourUse ink = Find(label->grab().toImage(), Qt::black);
    ASSERT_GT(ink.count, 0);
    QTest::mouseClick(label, Qt::LeftButton, {}, ink.first);
    EXPECT_EQ(opener.opened, std::vector<std::string>{odd.toStdString()});
}

TEST(AttributedText, RunsKeepTheirOwnColoursInLabelsAndButtonTitles) {
    kit::Window window(MakeSize(300, 100));
    window.setBackgroundColor(Qt::white);
    auto* label = new kit::Label(MakeRect(10, 60, 280, 30));
    QFont big;
    big.setPixelSize(20);
    big.setBold(true);
    label->setAttributedStringValue(kit::AttributedString()
                                        .append({"RED", big, QColor(255, 0, 0)})
                                        .append({" then ", {}, {}})
                                        .append({"GREEN", big, QColor(0, 160, 0)}));
    auto* button = new kit::Button(MakeRect(10, 10, 200, 40));
    button->setAttributedTitle(kit::AttributedString().append({"Continue", big, QColor(0, 0, 255)}));
    window.contentView()->addSubview(label);
    window.contentView()->addSubview(button);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));

    const QImage text = label->grab().toImage();
    const ColourUse red = Find(text, QColor(255, 0, 0));
    const ColourUse green = Find(text, QColor(0, 160, 0));
    EXPECT_GT(red.count, 10);
    EXPECT_GT(green.count, 10);
    EXPECT_LT(red.first.x(), green.first.x()) << "runs in order";
    EXPECT_EQ(Find(text, QColor(0, 0, 0)).longestRow, 0) << "no run is underlined";

    EXPECT_EQ(button->titleText(), "Continue");
    const ColourUse blue = Find(button->grab().toImage(), QColor(0, 0, 255));
    EXPECT_GT(blue.count, 10) << "the attributed title is drawn";
    EXPECT_GT(blue.first.x(), 20) << "centred";
    button->setTitle("Plain");
    EXPECT_FALSE(button->hasAttributedTitle());
    EXPECT_EQ(Find(button->grab().toImage(), QColor(0, 0, 255)).count, 0);
}

TEST(AttributedText, AnAttributeOverARangeSplitsTheRunsAtItsEnds) {
    QFont helvetica("Helvetica");
    helvetica.setPixelSize(14);
    kit::AttributedString hint("Try a Deep Scan to find more files.");
    const int at = int(hint.string().indexOf("Deep Scan"));
    hint.setFont(helvetica, at, 9).setColor(Qt::red, at + 5, 100);
    ASSERT_EQ(hint.runs().size(), 4u);
    EXPECT_EQ(hint.runs()[0].text, "Try a ");
    EXPECT_FALSE(hint.runs()[0].font.has_value());
    EXPECT_EQ(hint.runs()[1].text, "Deep ");
    EXPECT_EQ(hint.runs()[1].font, helvetica);
    EXPECT_FALSE(hint.runs()[1].color.isValid());
    EXPECT_EQ(hint.runs()[2].text, "Scan");
    EXPECT_EQ(hint.runs()[2].color, QColor(Qt::red));
    EXPECT_EQ(hint.runs()[3].text, " to find more files.");
    EXPECT_FALSE(hint.runs()[3].font.has_value());
    EXPECT_EQ(hint.runs()[3].color, QColor(Qt::red)) << "a range past the end stops at the end";
    EXPECT_EQ(hint.string(), "Try a Deep Scan to find more files.");
}

}  // namespace
