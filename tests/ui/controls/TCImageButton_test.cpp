// The image button's states, its clicks, its drawing at the image's own size, and the hand button.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <functional>
#include <memory>

#include "ui/controls/TCImageButton.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;

const QColor kNormal(10, 200, 10);
const QColor kPress(200, 10, 10);
const QColor kHover(10, 10, 200);
const QColor kDisable(128, 128, 128);

class ImageButtonTest : public testing::Test {
public:
    void SetUp() override {
        window = std::make_unique<kit::Window>(kit::MakeSize(300, 200));
        button = new TCImageButton(MakeRect(20, 20, 100, 30));
        button->setImageFromFileNormalName("test_state_normal", "test_state_press", "test_state_hover",
                                           "test_state_disable");
        button->setAction([this] { ++actions; });
        window->contentView()->addSubview(button);
        ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
    }
    // The colour drawn inside the image (40 x 20 from the button's top left).
    QColor drawn() { return QColor::fromRgba(uitest::Render(button).pixel(20, 10)); }
    void hover() { QTest::mouseMove(button, QPoint(50, 15)); }
    void leave() { QTest::mouseMove(window.get(), QPoint(290, 190)); }

    std::unique_ptr<kit::Window> window;
    TCImageButton* button = nullptr;
    int actions = 0;
};

TEST_F(ImageButtonTest, EachStateDrawsItsImage) {
    struct Case {
        const char* name;
        std::function<void(ImageButtonTest&)> setUp;
        QColor expected;
    };
    const Case cases[] = {
        {"normal", [](ImageButtonTest&) {}, kNormal},
        {"hover", [](ImageButtonTest& t) { t.hover(); }, kHover},
        {"pressed (held)", [](ImageButtonTest& t) { t.button->setButtonClicked(true); }, kPress},
        {"pressed wins over hover", [](ImageButtonTest& t) { t.hover(); t.button->setButtonClicked(true); }, kPress},
        {"disabled", [](ImageButtonTest& t) { t.button->setButtonEnabled(false); }, kDisable},
        {"disabled under the mouse", [](ImageButtonTest& t) { t.hover(); t.button->setButtonEnabled(false); }, kDisable},
        {"switched off by Qt (a title bar)", [](ImageButtonTest& t) { t.button->setEnabled(false); }, kDisable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        leave();
        button->setButtonClicked(false);
        button->setButtonEnabled(true);
        button->setEnabled(true);
        c.setUp(*this);
        EXPECT_EQ(drawn(), c.expected) << uitest::Rgb(drawn());
    }
}

TEST_F(ImageButtonTest, HoverFollowsTheMouseAndSurvivesBeingDisabled) {
    hover();
    EXPECT_TRUE(button->isFocus());
    button->setButtonEnabled(false);
    EXPECT_TRUE(button->isFocus());
    button->setButtonEnabled(true);
    EXPECT_EQ(drawn(), kHover) << "still under the mouse";
    leave();
    EXPECT_FALSE(button->isFocus());
    EXPECT_EQ(drawn(), kNormal);
}

TEST_F(ImageButtonTest, SetButtonEnabledNoIgnoresClicksAndAMouseDownClearsAHeldPress) {
    button->setButtonEnabled(false);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(actions, 0);
    button->setButtonEnabled(true);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(actions, 1);
    button->setButtonClicked(true);
    EXPECT_TRUE(button->isTracking());
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_FALSE(button->isTracking());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(actions, 2);
}

TEST_F(ImageButtonTest, AMissingStateImageDrawsNothingAndNoImagesDrawThePlainButton) {
    button->setImageFromFileNormalName("test_state_normal", "", "", "");
    hover();
    EXPECT_EQ(qAlpha(uitest::Render(button).pixel(20, 10)), 0) << "no hover image: nothing, not the normal one";
    button->setButtonEnabled(false);
    EXPECT_EQ(qAlpha(uitest::Render(button).pixel(20, 10)), 0);

    auto* plain = new TCImageButton(MakeRect(150, 20, 100, 30));
    plain->setTitle("Plain");
    window->contentView()->addSubview(plain);
    const QImage shot = uitest::Render(plain);
    int painted = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) painted += qAlpha(shot.pixel(x, y)) > 0;
    EXPECT_GT(painted, 100) << "the style draws a button without images";
}

TEST_F(ImageButtonTest, AnImageIsDrawnAtItsOwnSizeFromTheTopLeftNotScaledToTheButton) {
    button->setImageFromFileNormalName("test_square24", "test_square24", "test_square24", "test_square24");
    const QImage shot = uitest::Render(button);
    ASSERT_EQ(shot.size(), QSize(100, 30));
    EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(200, 40, 40));
    EXPECT_EQ(QColor(shot.pixel(23, 23)), QColor(200, 40, 40));
    EXPECT_EQ(qAlpha(shot.pixel(24, 10)), 0);
    EXPECT_EQ(qAlpha(shot.pixel(10, 24)), 0);
    EXPECT_EQ(qAlpha(shot.pixel(99, 29)), 0);
}

TEST(KXHandButton, ShowsTheHandCursorWhileTheMouseIsOverIt) {
    kit::Window window(kit::MakeSize(200, 100));
    auto* link = new KXHandButton(MakeRect(10, 10, 80, 20));
    link->setCursor(Qt::IBeamCursor);  // whatever was set before
    window.contentView()->addSubview(link);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    QTest::mouseMove(link, QPoint(40, 10));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseMove(&window, QPoint(190, 90));
    EXPECT_EQ(link->cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
