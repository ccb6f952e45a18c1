// The image window's layout numbers, its sheets, its bar controls following the window's state, and
// the drawn title bar.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <memory>

#include "platform/foundation/UserDefaults.h"
#include "ui/controls/TCImageButton.h"
#include "ui/controls/TCImageWindow.h"
#include "ui/controls/TCWindowButton.h"
#include "ui/controls/WQTitlebarView.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;
using kit::Rect;

constexpr double kW = 600;
constexpr double kH = 400;

std::unique_ptr<TCImageWindow> MainLikeWindow() {
    auto window = std::make_unique<TCImageWindow>(kit::MakeSize(kW, kH));
    window->setTitleBarHeight(50);
    window->setTrafficLightButtonsLeftMargin(8);
    return window;
}

TEST(TCImageWindow, RowLayoutPlacesTheCloseButtonByBarHeightAndMoveUp) {
    auto window = MainLikeWindow();
    TCWindowButton* close = window->standardWindowButton(TCImageWindow::kCloseButton);
    // Centred in the bar: T.y + 25 - 16 / 2, with T.y = 400 - 50.
    EXPECT_EQ(close->frame(), MakeRect(8, 367, 14, 16));

    window->setTopButtonMoveUp(5);
    EXPECT_EQ(close->frame().y(), 367) << "the offset waits for the next layout";
    window->layoutTrafficLightsAndContent();
    EXPECT_EQ(close->frame(), MakeRect(8, 372, 14, 16));
    EXPECT_EQ(close->geometry(), QRect(8, 12, 14, 16));
    EXPECT_EQ(window->standardWindowButton(TCImageWindow::kMinimizeButton)->frame(), MakeRect(8 + 14 + 6, 372, 14, 16));
    EXPECT_EQ(window->standardWindowButton(TCImageWindow::kZoomButton)->frame(), MakeRect(48, 372, 14, 16));

    // The bar across the top, the content below it.
    EXPECT_EQ(window->titleBarContainer()->frame(), MakeRect(0, 350, kW, 50));
    EXPECT_EQ(window->titleBarView()->frame(), MakeRect(0, 0, kW, 50));
    EXPECT_EQ(window->contentView()->frame(), MakeRect(0, 0, kW, 350));

    window->setCenterTrafficLightButtons(false);
    EXPECT_EQ(close->frame().y(), 350 + 50 - 16 - 3 + 5);
}

TEST(TCImageWindow, ColumnLayoutStacksZoomMinimiseCloseWithTheSeparationLessTwo) {
    auto window = MainLikeWindow();
    window->setTopButtonMoveUp(5);  // not applied to a column
    window->setVerticalTrafficLightButtons(true);
    const Rect z = window->standardWindowButton(TCImageWindow::kZoomButton)->frame();
    const Rect m = window->standardWindowButton(TCImageWindow::kMinimizeButton)->frame();
    const Rect c = window->standardWindowButton(TCImageWindow::kCloseButton)->frame();
    // total = 3 x 16 + 2 x (6 - 2) = 56; y = rnd(350 + 25 - 28).
    EXPECT_EQ(z, MakeRect(8, 347, 14, 16));
    EXPECT_EQ(m.y() - z.maxY(), 4);
    EXPECT_EQ(c.y() - m.maxY(), 4);
    EXPECT_EQ(c.x(), 8);
    window->setTrafficLightSeparation(10);
    EXPECT_EQ(window->standardWindowButton(TCImageWindow::kCloseButton)->frame().y() -
                  window->standardWindowButton(TCImageWindow::kMinimizeButton)->frame().maxY(),
              8);
}

TEST(TCImageWindow, ANewBarHeightMovesBarButtonsAndContentAtOnceAndTheSameHeightNothing) {
    auto window = MainLikeWindow();
    TCWindowButton* close = window->standardWindowButton(TCImageWindow::kCloseButton);
    close->setFrameOrigin(kit::MakePoint(100, 100));
    window->setTitleBarHeight(50);
    EXPECT_EQ(close->frame().origin, kit::MakePoint(100, 100)) << "the same height lays nothing out";
    window->setTitleBarHeight(36);
    EXPECT_EQ(window->cachedTitleBarHeight(), 36);
    EXPECT_EQ(close->frame().origin, kit::MakePoint(8, 364 + 18 - 8));
    EXPECT_EQ(window->contentView()->frame(), MakeRect(0, 0, kW, 364));
    window->setContentSize(kit::MakeSize(700, 500));
    EXPECT_EQ(window->titleBarContainer()->frame(), MakeRect(0, 464, 700, 36));
    EXPECT_EQ(window->contentView()->frame(), MakeRect(0, 0, 700, 464));
    EXPECT_EQ(window->titleBarView()->frame().width(), 700);
}

TEST(TCImageWindow, ASheetHangsFromTheBottomOfTheBarWhateverTheDelegateSays) {
    struct Delegate : kit::WindowDelegate {
        int asked = 0;
        Rect windowWillPositionSheet(kit::Window*, kit::Window*, Rect proposed) override {
            ++asked;
            return proposed;
        }
    } delegate;
    auto window = MainLikeWindow();
    window->setDelegate(&delegate);
    ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
    EXPECT_EQ(window->positionSheet(nullptr, MakeRect(10, 999, 200, 100)), MakeRect(10, kH - 50, 200, 100));

    kit::Window sheet(kit::MakeSize(300, 120));
    int code = 0;
    window->beginSheet(&sheet, [&](int c) { code = c; });
    EXPECT_EQ(sheet.geometry().top() - window->geometry().top(), 50);
    EXPECT_EQ(sheet.geometry().left() - window->geometry().left(), 150);
    EXPECT_EQ(delegate.asked, 0);
    window->endSheet(&sheet, 1);
    EXPECT_EQ(code, 1);
}

TEST(TCImageWindow, BarControlsAreDisabledWhileTheWindowIsInactiveAndEnabledAgain) {
    auto window = MainLikeWindow();
    auto* barButton = new TCImageButton(MakeRect(500, 10, 30, 30));
    window->titleBarView()->addSubview(barButton);
    auto* group = new kit::View(MakeRect(300, 10, 100, 30));
    auto* nested = new TCImageButton(MakeRect(0, 0, 30, 30));
    group->addSubview(nested);
    window->titleBarView()->addSubview(group);
    auto* contentButton = new TCImageButton(MakeRect(10, 10, 30, 30));
    window->contentView()->addSubview(contentButton);

    ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_TRUE(window->isMainWindow());
    EXPECT_TRUE(barButton->isEnabled());

    kit::Window other(kit::MakeSize(100, 100));
    ASSERT_TRUE(uitest::ShowAndActivate(&other));
    EXPECT_FALSE(window->isMainWindow());
    EXPECT_FALSE(barButton->isEnabled());
    EXPECT_TRUE(group->isEnabled()) << "only controls directly in the bar are switched";
    EXPECT_TRUE(contentButton->isEnabled());
    // A disabled bar button shows its disable image.
    EXPECT_FALSE(barButton->isUsable());

    ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
    EXPECT_TRUE(barButton->isEnabled());
}

TEST(TCImageWindow, ProvidedButtonsReplaceTheStandardOnes) {
    auto window = MainLikeWindow();
    auto* mine = new TCWindowButton(kit::MakeSize(20, 20), "test.provided");
    window->setCloseButton(mine);
    EXPECT_EQ(window->closeButton(), mine);
    EXPECT_EQ(mine->parentWidget(), window->frameView());
    window->layoutTrafficLightsAndContent();
    EXPECT_TRUE(window->standardWindowButton(TCImageWindow::kCloseButton)->isHidden());
    EXPECT_EQ(mine->frame(), MakeRect(8, 365, 20, 20));
    window->show();
    mine->click();
    EXPECT_FALSE(window->isVisible()) << "the provided close button closes the window";
}

TEST(TCImageWindow, TheFullScreenButtonKeepsItsMeasuredMarginAndAZeroMarginIsMeasuredAgain) {
    auto window = MainLikeWindow();
    auto* fullScreen = new TCWindowButton(kit::MakeSize(16, 16), "test.fullscreen");
    fullScreen->setFrameOrigin(kit::MakePoint(kW - 16, 0));  // flush with the right edge: margin 0
    window->setFullScreenButton(fullScreen);
    window->layoutTrafficLightsAndContent();
    EXPECT_FALSE(window->hasFullScreenButtonRightMargin());
    EXPECT_EQ(fullScreen->frame(), MakeRect(kW - 16, 350 + 50 - 16 - 3, 16, 16));
    window->setFullScreenButtonRightMargin(10);
    EXPECT_TRUE(window->hasFullScreenButtonRightMargin());
    EXPECT_EQ(fullScreen->frame().x(), kW - 16 - 10);
    window->setCenterFullScreenButton(true);
    EXPECT_EQ(fullScreen->frame().y(), 350 + 25 - 8);
}

// The darkest grey in the title's area of the bar.
int DarkestTitlePixel(const QImage& bar) {
    int darkest = 255;
    for (int y = 0; y < 20; ++y) {
        for (int x = int(kW) / 2 - 40; x < int(kW) / 2 + 40; ++x) {
            if (qAlpha(bar.pixel(x, y)) == 255) darkest = std::min(darkest, qGray(bar.pixel(x, y)));
        }
    }
    return darkest;
}

TEST(WQTitlebarView, TheBarIsWhiteBelowItsTopRowAndTheTitleGreyHalfOpaqueWhenInactive) {
    auto window = MainLikeWindow();
    window->setBackgroundColor(QColor(10, 20, 30));
    window->setTitle("Brelvox");
    window->setShowsTitle(true);
    ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
    const QImage active = uitest::Render(window->titleBarView());
    EXPECT_EQ(QColor(active.pixel(int(kW) - 60, 30)), QColor(Qt::white));
    EXPECT_EQ(QColor(active.pixel(int(kW) - 60, 49)), QColor(Qt::white)) << "the separator";
    EXPECT_EQ(qAlpha(active.pixel(int(kW) - 60, 0)), 0) << "the top row lies outside the clip";
    EXPECT_EQ(qAlpha(active.pixel(0, 1)), 0) << "a rounded corner";
    EXPECT_LE(DarkestTitlePixel(active), 70);  // 56 where the glyphs cover a pixel

    kit::Window other(kit::MakeSize(100, 100));
    ASSERT_TRUE(uitest::ShowAndActivate(&other));
    const QImage inactive = uitest::Render(window->titleBarView());
    const int grey = DarkestTitlePixel(inactive);
    EXPECT_GE(grey, 140);  // 56 at half opacity over white: about 156
    EXPECT_LE(grey, 170);
}

TEST(WQTitlebarView, TheTitleIsCentredTwoPointsBelowTheTopAndADrawingBlockReplacesTheFill) {
    auto window = MainLikeWindow();
    window->setTitle("A title");
    auto* bar = static_cast<WQTitlebarView*>(window->titleBarView());
    Rect frame;
    bar->getTitleFrame(&frame, nullptr, window.get());
    EXPECT_DOUBLE_EQ(frame.midX(), kW / 2);
    EXPECT_DOUBLE_EQ(frame.maxY(), 50 - 2.0);

    Rect given;
    QRectF clipBounds;
    window->setTitleBarDrawingBlock([&](QPainter& painter, bool, const Rect& bounds, const QPainterPath& clip) {
        given = bounds;
        clipBounds = clip.boundingRect();
        painter.fillRect(QRectF(0, 0, bounds.width(), bounds.height()), QColor(1, 2, 3));
    });
    const QImage shot = uitest::Render(bar);
    EXPECT_EQ(given, MakeRect(0, 0, kW, 50));
    EXPECT_EQ(clipBounds, QRectF(0, 0, kW, 50)) << "the path of the full bounds";
    EXPECT_EQ(QColor(shot.pixel(300, 0)), QColor(1, 2, 3));
}

TEST(WQTitlebarView, ADoubleClickMinimisesOnlyWhenTheUserDefaultSaysSo) {
    auto& defaults = brelvox::foundation::UserDefaults::Standard();
    auto window = MainLikeWindow();
    ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
    QWidget* bar = window->titleBarView();
    const QPoint point(300, 25);
    auto doubleClick = [&] {
        QTest::mouseClick(bar, Qt::LeftButton, {}, point);
        QTest::mouseDClick(bar, Qt::LeftButton, {}, point);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, point);
    };

    defaults.Remove("AppleMiniaturizeOnDoubleClick");
    doubleClick();
    EXPECT_FALSE(window->isMinimized()) << "absent counts as false";
    defaults.SetBool("AppleMiniaturizeOnDoubleClick", false);
    doubleClick();
    EXPECT_FALSE(window->isMinimized());
    defaults.SetBool("AppleMiniaturizeOnDoubleClick", true);
    QTest::mouseClick(bar, Qt::LeftButton, {}, point);
    EXPECT_FALSE(window->isMinimized()) << "a single click";
    doubleClick();
    EXPECT_TRUE(window->isMinimized());
    defaults.Remove("AppleMiniaturizeOnDoubleClick");
}

}  // namespace
