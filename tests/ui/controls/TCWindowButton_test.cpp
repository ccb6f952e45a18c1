// Window buttons: the five images, and the group roll-over shared by the buttons of one group.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <memory>

#include "platform/foundation/NotificationCenter.h"
#include "ui/controls/TCWindowButton.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

TCWindowButton* MakeButton(const QString& group, double x) {
    auto* button = new TCWindowButton(kit::MakeSize(14, 16), group);
    button->setActiveImage(kit::Image::named("test_wb_active"));
    button->setActiveNotKeyWindowImage(kit::Image::named("test_wb_notkey"));
    button->setInactiveImage(kit::Image::named("test_wb_disabled"));
    button->setRolloverImage(kit::Image::named("test_wb_rollover"));
    button->setPressedImage(kit::Image::named("test_wb_pressed"));
    button->setFrameOrigin(kit::MakePoint(x, 80));
    return button;
}

class WindowButtonTest : public testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<kit::Window>(kit::MakeSize(200, 100));
        first = MakeButton("test.group", 10);
        second = MakeButton("test.group", 30);
        other = MakeButton("test.other", 50);
        for (auto* b : {first, second, other}) window->contentView()->addSubview(b);
        ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
        QTest::mouseMove(window.get(), QPoint(150, 80));
    }
    std::unique_ptr<kit::Window> window;
    TCWindowButton* first = nullptr;
    TCWindowButton* second = nullptr;
    TCWindowButton* other = nullptr;
};

TEST_F(WindowButtonTest, ButtonsOfOneGroupRollOverTogether) {
    EXPECT_EQ(first->group(), second->group());
    EXPECT_EQ(first->image().name(), "test_wb_active");
    QTest::mouseMove(first, QPoint(7, 8));
    EXPECT_EQ(first->group()->numberOfCaptures(), 1);
    EXPECT_EQ(first->image().name(), "test_wb_rollover");
    EXPECT_EQ(second->image().name(), "test_wb_rollover");
    EXPECT_EQ(other->image().name(), "test_wb_active") << "another group";
    QTest::mouseMove(window.get(), QPoint(150, 80));
    EXPECT_EQ(first->group()->numberOfCaptures(), 0);
    EXPECT_EQ(first->image().name(), "test_wb_active");
    EXPECT_EQ(second->image().name(), "test_wb_active");
    // Painted as chosen.
    EXPECT_EQ(QColor(uitest::Render(first).pixel(7, 8)), QColor(255, 0, 0));
}

TEST_F(WindowButtonTest, ADisabledButtonNeverRollsOverAndTheKeyStateChoosesTheImage) {
    second->setEnabled(false);
    EXPECT_EQ(second->image().name(), "test_wb_disabled");
    QTest::mouseMove(first, QPoint(7, 8));
    EXPECT_EQ(first->image().name(), "test_wb_rollover");
    EXPECT_EQ(second->image().name(), "test_wb_disabled");
    QTest::mouseMove(window.get(), QPoint(150, 80));
    second->setEnabled(true);

    kit::Window elsewhere(kit::MakeSize(50, 50));
    ASSERT_TRUE(uitest::ShowAndActivate(&elsewhere));
    EXPECT_EQ(first->image().name(), "test_wb_notkey");
    ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
    EXPECT_EQ(first->image().name(), "test_wb_active");
}

TEST(TCWindowButtonGroup, AReleaseWithoutACaptureStaysAtZeroAndPostsNothing) {
    TCWindowButtonGroup* group = TCWindowButtonGroup::groupWithIdentifier("test.release");
    int posts = 0;
    const int token = 0;
    brelvox::foundation::NotificationCenter::Default().AddObserver(
        &token, TCWindowButtonGroupDidUpdateRolloverStateNotification, group,
        [&](const brelvox::foundation::Notification&) { ++posts; });
    group->didReleaseMousePointer();
    EXPECT_EQ(group->numberOfCaptures(), 0);
    EXPECT_EQ(posts, 0);
    group->didCaptureMousePointer();
    group->didCaptureMousePointer();
    group->resetMouseCaptures();
    EXPECT_EQ(posts, 3);
    EXPECT_FALSE(group->shouldDisplayRollOver());
    brelvox::foundation::NotificationCenter::Default().RemoveObserver(&token);

    EXPECT_EQ(TCWindowButtonGroup::groupWithIdentifier(""),
              TCWindowButtonGroup::groupWithIdentifier(kTCWindowButtonGroupDefault));
}

}  // namespace
