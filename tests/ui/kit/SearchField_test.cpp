// The search field: the action on Return, ten recent searches, the menu built from its template by
// AppKit's tags, a recent search chosen from the menu, and the cancel button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QToolButton>
#include <QtTest/QTest>
#include <algorithm>
#include <vector>

#include "ui/kit/SearchField.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;

// The titles of the items a menu shows ("-" for a separator).
std::vector<QString> Shown(const kit::Menu& menu) {
    std::vector<QString> titles;
    for (QAction* action : menu.actions()) {
        if (action->isVisible()) titles.push_back(action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return titles;
}

// The field's buttons, left to right: the search menu's and the cancel button.
std::vector<QToolButton*> Buttons(QWidget* field) {
    std::vector<QToolButton*> buttons;
    for (QToolButton* button : field->findChildren<QToolButton*>()) buttons.push_back(button);
    std::sort(buttons.begin(), buttons.end(), [](QToolButton* a, QToolButton* b) { return a->x() < b->x(); });
    return buttons;
}

class SearchFieldTest : public testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<kit::Window>(kit::MakeSize(300, 60));
        field = new kit::SearchField(MakeRect(10, 20, 280, 24));
        auto* menu = new kit::Menu("Search");
        menu->addItemWithTitle("Recent Searches")->setTag(kit::kSearchFieldRecentsTitleMenuItemTag);
        menu->addItemWithTitle("No recent searches")->setTag(kit::kSearchFieldNoRecentsMenuItemTag);
        menu->addItemWithTitle("Recents")->setTag(kit::kSearchFieldRecentsMenuItemTag);
        menu->addSeparatorItem()->setTag(kit::kSearchFieldRecentsTitleMenuItemTag);
        menu->addItemWithTitle("Clear", [this] { ++clears; });
        field->setSearchMenuTemplate(menu);
        field->setAction([this] { searches.push_back(field->stringValue()); });
        window->contentView()->addSubview(field);
        ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
        field->setFocus();
    }
    void search(const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    std::unique_ptr<kit::Window> window;
    kit::SearchField* field = nullptr;
    std::vector<QString> searches;
    int clears = 0;
};

TEST_F(SearchFieldTest, TheMenuShowsNoRecentsFirstAndThenTheTenLatestSearches) {
    EXPECT_EQ(Shown(*field->searchMenu()), (std::vector<QString>{"No recent searches", "Clear"}));

    for (int i = 1; i <= 12; ++i) search(QStringLiteral("photo%1").arg(i));
    ASSERT_EQ(searches.size(), 12u);
    EXPECT_EQ(searches.back(), "photo12");
    QStringList latest;
    for (int i = 12; i >= 3; --i) latest << QStringLiteral("photo%1").arg(i);
    EXPECT_EQ(field->recentSearches(), latest);

    std::vector<QString> expected{"Recent Searches"};
    for (const QString& s : latest) expected.push_back(s);
    expected.push_back("-");
    expected.push_back("Clear");
    EXPECT_EQ(Shown(*field->searchMenu()), expected);

    // A search again moves it to the front; the template's own items keep their actions.
    search("photo7");
    EXPECT_EQ(field->recentSearches().front(), "photo7");
    EXPECT_EQ(field->recentSearches().size(), 10);
    field->searchMenu()->itemWithTitle("Clear")->trigger();
    EXPECT_EQ(clears, 1);
}

TEST_F(SearchFieldTest, ARecentSearchChosenFromTheSearchButtonsMenuFillsTheFieldAndRuns) {
    for (const char* s : {"invoice", "holiday", "thesis"}) search(s);
    searches.clear();
    field->clear();

    const std::vector<QToolButton*> buttons = Buttons(field);
    ASSERT_GE(buttons.size(), 1u);
    QTest::mouseClick(buttons.front(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 2000));
    auto* popup = dynamic_cast<kit::Menu*>(QApplication::activePopupWidget());
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(Shown(*popup), (std::vector<QString>{"Recent Searches", "thesis", "holiday", "invoice", "-", "Clear"}));
    QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(popup->itemWithTitle("holiday")).center());

    EXPECT_EQ(field->stringValue(), "holiday");
    EXPECT_EQ(searches, (std::vector<QString>{"holiday"}));
    EXPECT_EQ(field->recentSearches(), (QStringList{"holiday", "thesis", "invoice"}));
}

TEST_F(SearchFieldTest, TheCancelButtonEmptiesTheFieldAndRunsTheCancelAction) {
    int cancels = 0;
    field->setCancelAction([&] { ++cancels; });
    EXPECT_FALSE(Buttons(field).back()->isVisible()) << "no cancel button on an empty field";
    QTest::keyClicks(field, "report");
    QToolButton* cancel = Buttons(field).back();
    ASSERT_TRUE(cancel->isVisible());
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_EQ(field->stringValue(), "");
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(searches.empty()) << "the cancel action, not the search";

    // Return on an empty field still runs the action but keeps no empty recent search.
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(searches, (std::vector<QString>{""}));
    EXPECT_TRUE(field->recentSearches().isEmpty());

    field->setRecentSearches({"a", "b", "c"});
    field->setMaximumRecents(2);
    EXPECT_EQ(field->recentSearches(), (QStringList{"a", "b"}));
}

}  // namespace
