// Child windows that follow their parent and stay above it, and the translucent tool window that
// never takes the key.
#include <gtest/gtest.h>

#include <QWindow>
#include <QtTest/QTest>

#include "ui/kit/View.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakePoint;
using kit::MakeRect;
using kit::MakeSize;

// A tool window content that paints a disc in the middle and nothing around it.
class Disc : public kit::View {
public:
    using kit::View::View;

protected:
    void drawRect(QPainter& painter, const kit::Rect&) override {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(255, 255, 255));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QRectF(20, 20, 60, 60));
    }
};

TEST(ChildWindows, AChildFollowsItsParentsMovesAndStaysItsTransient) {
    kit::Window parent(MakeSize(300, 200));
    parent.setFrame(MakeRect(100, 100, 300, 200));
    kit::Window child(MakeSize(80, 40), kit::WindowStyle::Tool);
    child.setFrame(MakeRect(150, 90, 80, 40));
    parent.addChildWindow(&child);
    EXPECT_EQ(child.parentWindow(), &parent);
    EXPECT_EQ(parent.childWindows(), std::vector<kit::Window*>{&child});
    EXPECT_EQ(child.frame(), MakeRect(150, 90, 80, 40)) << "adding keeps the child where it was";
    ASSERT_TRUE(uitest::ShowAndActivate(&parent));
    child.orderFront();
    ASSERT_NE(child.windowHandle(), nullptr);
    EXPECT_EQ(child.windowHandle()->transientParent(), parent.windowHandle()) << "kept above its parent";

    parent.setFrameOrigin(MakePoint(130, 120));
    EXPECT_EQ(child.frame(), MakeRect(180, 110, 80, 40));
    // Moved by Qt (as a drag on the bar does), shown.
    parent.move(parent.pos() + QPoint(-10, 5));
    EXPECT_EQ(child.frame(), MakeRect(170, 105, 80, 40));

    parent.removeChildWindow(&child);
    EXPECT_EQ(child.parentWindow(), nullptr);
    EXPECT_EQ(child.parentWidget(), nullptr);
    parent.setFrameOrigin(MakePoint(0, 0));
    EXPECT_EQ(child.frame(), MakeRect(170, 105, 80, 40)) << "a removed child stays";
}

TEST(ChildWindows, NeitherDeletesTheOtherWhenItEnds) {
    auto parent = std::make_unique<kit::Window>(MakeSize(300, 200));
    auto child = std::make_unique<kit::Window>(MakeSize(80, 40), kit::WindowStyle::Tool);
    parent->addChildWindow(child.get());
    parent.reset();
    EXPECT_EQ(child->parentWindow(), nullptr);
    EXPECT_EQ(child->parentWidget(), nullptr);

    parent = std::make_unique<kit::Window>(MakeSize(300, 200));
    parent->addChildWindow(child.get());
    child.reset();
    EXPECT_TRUE(parent->childWindows().empty());
}

TEST(ChildWindows, AToolWindowIsClearWhereItPaintsNothingAndLeavesTheParentKey) {
    struct KeyChanges : kit::WindowDelegate {
        int changes = 0;
        void windowDidBecomeKey(kit::Window*) override { ++changes; }
        void windowDidResignKey(kit::Window*) override { ++changes; }
    } keyChanges;
    kit::Window parent(MakeSize(300, 200));
    ASSERT_TRUE(uitest::ShowAndActivate(&parent));
    ASSERT_TRUE(parent.isKeyWindow());
    parent.setDelegate(&keyChanges);

    kit::Window tool(MakeSize(100, 100), kit::WindowStyle::Tool);
    EXPECT_FALSE(tool.canBecomeKeyWindow());
    tool.setContentView(new Disc(MakeRect(0, 0, 100, 100)));
    parent.addChildWindow(&tool);
    tool.makeKeyAndOrderFront();
    uitest::ProcessEvents();
    EXPECT_TRUE(tool.isVisible());
    EXPECT_TRUE(parent.isKeyWindow());
    EXPECT_FALSE(tool.isKeyWindow());
    EXPECT_EQ(QApplication::activeWindow(), &parent);
    EXPECT_EQ(keyChanges.changes, 0) << "the parent stayed key throughout";

    const QImage shot = tool.grab().toImage();
    EXPECT_EQ(qAlpha(shot.pixel(5, 5)), 0) << "nothing painted in the corner";
    EXPECT_EQ(QColor(shot.pixel(50, 50)), QColor(255, 255, 255));
    EXPECT_EQ(qAlpha(shot.pixel(50, 50)), 255);
}

}  // namespace
