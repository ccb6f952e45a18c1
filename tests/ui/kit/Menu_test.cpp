// Menus over QMenu: items by tag and title, ticks that change only when told, separators and
// submenus, key equivalents of the main menu in every kit window, and pop-ups chosen with the mouse.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QtTest/QTest>
#include <vector>

#include "ui/kit/Application.h"
#include "ui/kit/Menu.h"
#include "ui/kit/TextField.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;
using kit::MakeSize;

// Runs chooser on the pop-up once it shows (it runs in the pop-up's own loop).
void WhenPopUpShows(std::function<void(QMenu*)> chooser) {
    QTimer::singleShot(0, [chooser = std::move(chooser)] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(popup, nullptr);
        chooser(popup);
    });
}

TEST(Menu, ItemsAreFoundByTagAndTitleAndTicksChangeOnlyWhenSet) {
    kit::Menu menu("Search");
    std::vector<QString> ran;
    menu.addItemWithTitle("Recent", {})->setTag(1000);
    kit::MenuItem* none = menu.addItemWithTitle("No recent searches");
    none->setTag(1003);
    kit::MenuItem* separator = menu.addSeparatorItem();
    kit::MenuItem* english = menu.addItemWithTitle("English", [&] { ran.push_back("English"); });
    english->setState(1);
    auto* languages = new kit::Menu("More");
    languages->addItemWithTitle("Deutsch", [&] { ran.push_back("Deutsch"); })->setTag(7);
    kit::MenuItem* more = menu.addItemWithTitle("More");
    menu.setSubmenu(languages, more);
    menu.insertItem(new kit::MenuItem("First"), 0);

    EXPECT_EQ(menu.numberOfItems(), 6);
    EXPECT_EQ(menu.itemAtIndex(0)->text(), "First");
    EXPECT_EQ(menu.indexOfItemWithTag(1003), 2);
    EXPECT_EQ(menu.itemWithTag(1003), none);
    EXPECT_EQ(menu.itemWithTag(42), nullptr);
    EXPECT_TRUE(separator->isSeparator());
    EXPECT_EQ(menu.itemWithTitle("More")->submenu(), languages);
    EXPECT_EQ(languages->parent(), &menu) << "the menu owns its submenu";

    english->trigger();
    EXPECT_EQ(english->state(), 1) << "choosing leaves the tick as set";
    EXPECT_TRUE(english->isChecked());
    english->setState(0);
    EXPECT_FALSE(english->isChecked());
    languages->itemWithTag(7)->trigger();
    EXPECT_EQ(ran, (std::vector<QString>{"English", "Deutsch"}));

    menu.removeItem(none);
    EXPECT_EQ(menu.indexOfItemWithTag(1003), -1);
    EXPECT_EQ(menu.numberOfItems(), 5);
}

TEST(Menu, MainMenuKeyEquivalentsRunInEveryKitWindow) {
    kit::Menu main;
    int quits = 0, shows = 0, disabled = 0;
    kit::Menu* file = new kit::Menu("File");
    file->addItemWithTitle("Quit", [&] { ++quits; }, "q");
    file->addItemWithTitle("Show log", [&] { ++shows; }, "L");  // upper case: Control+Shift
    file->addItemWithTitle("Greyed", [&] { ++disabled; }, "g")->setEnabled(false);
    main.setSubmenu(file, main.addItemWithTitle("File"));
    kit::Application::shared().setMainMenu(&main);

    kit::Window window(MakeSize(200, 100));
    auto* field = new kit::TextField(MakeRect(10, 10, 180, 24));
    window.contentView()->addSubview(field);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    field->setFocus();

    QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1) << "Control+Q, even in a text field";
    QTest::keyClick(field, Qt::Key_Q);
    EXPECT_EQ(quits, 1) << "a plain q is typed";
    EXPECT_EQ(field->stringValue(), "q");
    QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(shows, 0);
    QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(shows, 1);
    QTest::keyClick(&window, Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(disabled, 0);
    EXPECT_EQ(file->itemWithTitle("Quit")->shortcut(), QKeySequence("Ctrl+Q"));

    kit::Application::shared().setMainMenu(nullptr);
    QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1);
}

TEST(Menu, APopUpRunsTheItemChosenWithTheMouseAndReportsADismissal) {
    kit::Window window(MakeSize(300, 200));
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    kit::Menu menu;
    std::vector<QString> ran;
    menu.addItemWithTitle("Open", [&] { ran.push_back("Open"); });
    kit::MenuItem* reveal = menu.addItemWithTitle("Reveal", [&] { ran.push_back("Reveal"); });

    QPoint shownAt;
    WhenPopUpShows([&](QMenu* popup) {
        shownAt = popup->geometry().topLeft();
        QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(reveal).center());
    });
    // (20, 150) in the content view is 50 below the window's top edge (y up).
    EXPECT_TRUE(menu.popUpMenuPositioningItem(nullptr, kit::MakePoint(20, 150), window.contentView()));
    EXPECT_EQ(ran, (std::vector<QString>{"Reveal"}));
    EXPECT_EQ(shownAt, window.contentView()->mapToGlobal(QPoint(20, 50)));

    WhenPopUpShows([](QMenu* popup) { QTest::keyClick(popup, Qt::Key_Escape); });
    EXPECT_FALSE(menu.popUpAtScreenPoint(QPoint(10, 10)));
    EXPECT_EQ(ran.size(), 1u);
}

TEST(Menu, ARightClickNoViewTakesPopsUpTheMainMenu) {
    kit::Menu main;
    int abouts = 0;
    kit::MenuItem* about = main.addItemWithTitle("About", [&] { ++abouts; });
    kit::Application::shared().setMainMenu(&main);
    kit::Window window(MakeSize(300, 200));
    ASSERT_TRUE(uitest::ShowAndActivate(&window));

    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(40, 40), window.mapToGlobal(QPoint(40, 40)));
    QApplication::sendEvent(window.contentView(), &request);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 2000));
    QWidget* popup = QApplication::activePopupWidget();
    EXPECT_EQ(popup, &main);
    QTest::mouseClick(popup, Qt::LeftButton, {}, main.actionGeometry(about).center());
    EXPECT_EQ(abouts, 1);
    kit::Application::shared().setMainMenu(nullptr);
}

}  // namespace
