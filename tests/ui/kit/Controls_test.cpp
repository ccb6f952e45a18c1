// The kit's controls over Qt's: actions, values and placement by frames.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QtTest/QTest>

#include "ui/kit/Button.h"
#include "ui/kit/ProgressIndicator.h"
#include "ui/kit/ScrollView.h"
#include "ui/kit/SegmentedControl.h"
#include "ui/kit/TextField.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;

TEST(KitControls, ButtonsSendTheirActionAndSwitchesKeepTheirState) {
    kit::Window window(kit::MakeSize(200, 100));
    auto* push = new kit::Button(MakeRect(10, 10, 80, 30));
    auto* box = new kit::Button(MakeRect(100, 10, 80, 30));
    box->setButtonType(kit::Button::Type::Switch);
    int pushed = 0, toggled = 0;
    push->setAction([&] { ++pushed; });
    box->setAction([&] { ++toggled; });
    window.contentView()->addSubview(push);
    window.contentView()->addSubview(box);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    QTest::mouseClick(push, Qt::LeftButton);
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(pushed, 1);
    EXPECT_EQ(toggled, 1);
    EXPECT_EQ(push->state(), 0);
    EXPECT_EQ(box->state(), 1);
    push->setEnabled(false);
    QTest::mouseClick(push, Qt::LeftButton);
    EXPECT_EQ(pushed, 1);
}

TEST(KitControls, TextFieldsSendTheirActionOnReturnAndLabelsAreControls) {
    kit::Window window(kit::MakeSize(200, 100));
    auto* field = new kit::TextField(MakeRect(10, 60, 180, 24));
    QString sent;
    field->setAction([&] { sent = field->stringValue(); });
    window.contentView()->addSubview(field);
    auto* label = new kit::Label(MakeRect(10, 10, 180, 20), "Name");
    window.contentView()->addSubview(label);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    field->setFocus();
    QTest::keyClicks(field, "photo");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(sent, "photo");
    EXPECT_EQ(label->stringValue(), "Name");
    EXPECT_NE(dynamic_cast<kit::Control*>(static_cast<QWidget*>(label)), nullptr);
    EXPECT_EQ(field->geometry(), QRect(10, 100 - 84, 180, 24));
    field->setEditable(false);
    EXPECT_TRUE(field->isReadOnly());
}

TEST(KitControls, ASegmentedControlSelectsOneSegmentAndSharesFreeWidth) {
    kit::Window window(kit::MakeSize(300, 100));
    auto* segments = new kit::SegmentedControl(MakeRect(0, 0, 300, 30));
    segments->setSegmentCount(3);
    segments->setWidth(100, 0);
    int actions = 0;
    segments->setAction([&] { ++actions; });
    window.contentView()->addSubview(segments);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    EXPECT_EQ(segments->selectedSegment(), -1);
    EXPECT_EQ(segments->segmentButton(1)->geometry(), QRect(100, 0, 100, 30));
    QTest::mouseClick(segments->segmentButton(2), Qt::LeftButton);
    EXPECT_EQ(segments->selectedSegment(), 2);
    EXPECT_EQ(actions, 1);
    segments->setSelectedSegment(0);
    EXPECT_EQ(segments->selectedSegment(), 0);
    EXPECT_EQ(actions, 1) << "choosing in code sends nothing";
    segments->setSelectedSegment(-1);
    EXPECT_EQ(segments->selectedSegment(), -1);
}

TEST(KitControls, ScrollAndSplitViewsHoldTheirViews) {
    kit::Window window(kit::MakeSize(400, 300));
    auto* scroll = new kit::ScrollView(MakeRect(0, 0, 200, 300));
    auto* document = new kit::View(MakeRect(0, 0, 180, 1000));
    document->setFlipped(true);
    scroll->setDocumentView(document);
    scroll->setHasHorizontalScroller(false);
    auto* split = new kit::SplitView(MakeRect(200, 0, 200, 300));
    split->setVertical(true);
    split->addPane(new kit::View(MakeRect(0, 0, 100, 300)));
    split->addPane(new kit::View(MakeRect(0, 0, 100, 300)));
    window.contentView()->addSubview(scroll);
    window.contentView()->addSubview(split);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    EXPECT_EQ(scroll->documentView(), document);
    scroll->scrollToPoint(QPoint(0, 400));
    EXPECT_EQ(scroll->verticalScrollBar()->value(), 400);
    split->setPositionOfDividerAtIndex(80, 0);
    EXPECT_EQ(split->sizes().front(), 80);
    split->setPaneLimits(0, 90, 120);
    split->setPositionOfDividerAtIndex(40, 0);
    EXPECT_GE(split->sizes().front(), 90);
}

TEST(KitControls, AProgressIndicatorMapsItsRangeAndRunsIndeterminate) {
    kit::ProgressIndicator bar(MakeRect(0, 0, 200, 20));
    bar.setMinValue(10);
    bar.setMaxValue(30);
    bar.setDoubleValue(15);
    EXPECT_EQ(bar.value(), bar.maximum() / 4);
    bar.setDoubleValue(99);
    EXPECT_EQ(bar.value(), bar.maximum());
    bar.setIndeterminate(true);
    bar.startAnimation();
    EXPECT_EQ(bar.maximum(), 0) << "Qt's busy bar";
    bar.stopAnimation();
    EXPECT_GT(bar.maximum(), 0);
}

}  // namespace
