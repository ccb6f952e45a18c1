// kit::SearchField: a text field for searches (AppKit's NSSearchField) with a search button that pops
// up the recent-search menu, a cancel button that empties the field, and up to ten recent searches.
// The action runs on Return (a search that is not empty becomes the latest recent one). The menu is
// built from a template at each showing, by AppKit's tags: 1000 shown only with recent searches (their
// title, a separator), 1001 replaced by the recent searches, 1002 shown only with them (clear), 1003
// shown only without them ("no recent searches"); other items as they are.
#pragma once

#include <QStringList>
#include <functional>
#include <memory>

#include "ui/kit/Menu.h"
#include "ui/kit/TextField.h"

class QAction;

namespace kit {

inline constexpr int kSearchFieldRecentsTitleMenuItemTag = 1000;
inline constexpr int kSearchFieldRecentsMenuItemTag = 1001;
inline constexpr int kSearchFieldClearRecentsMenuItemTag = 1002;
inline constexpr int kSearchFieldNoRecentsMenuItemTag = 1003;

class SearchField : public TextField {
public:
    explicit SearchField(const Rect& frame = {});
    ~SearchField() override;

    // The template of the search menu (the field takes it over).
    void setSearchMenuTemplate(Menu* menu);
    Menu* searchMenuTemplate() const { return m_template.get(); }

    // The recent searches, latest first.
    const QStringList& recentSearches() const { return m_recents; }
    void setRecentSearches(const QStringList& searches);
    int maximumRecents() const { return m_maximumRecents; }
    void setMaximumRecents(int maximum);

    // The cancel button empties the field, then runs this (or, when none is set, the action).
    void setCancelAction(std::function<void()> action) { m_cancelAction = std::move(action); }

    // The menu the search button shows now, built from the template; null without a template.
    Menu* searchMenu();
    // Shows the search menu below the field, without waiting.
    void popUpSearchMenu();
    // Chooses a recent search: fills the field with it and runs the action.
    void chooseRecentSearch(const QString& search);
    // The cancel button's press: empties the field, then the cancel action.
    void cancel();

protected:
    void didPressReturn() override;

private:
    void noteRecent(const QString& search);
    void updateCancelButton();

    std::unique_ptr<Menu> m_template;
    std::unique_ptr<Menu> m_menu;
    QStringList m_recents;
    int m_maximumRecents = 10;
    std::function<void()> m_cancelAction;
    QAction* m_searchButton;
    QAction* m_cancelButton;
};

}  // namespace kit
