// kit::Menu over QMenu and kit::MenuItem over QAction (AppKit's NSMenu and NSMenuItem): items with a
// title, a tag, an action, a key equivalent (Control here where AppKit has Command), a tick, hidden
// and enabled states; separators and submenus; a pop-up at a point of a view. The application's main
// menu (Application::setMainMenu) is drawn in no window: its key equivalents work in every kit window
// and it pops up where a right click reaches a window without a view taking it (docs/ui-kit.md).
#pragma once

#include <QAction>
#include <QKeyCombination>
#include <QMenu>
#include <functional>

#include "ui/kit/Geometry.h"

namespace kit {

class Menu;

class MenuItem : public QAction {
public:
    // An item whose action runs when it is chosen, by the mouse or by its key equivalent. A key
    // equivalent is one character: a lower-case letter means Control and the key, an upper-case one
    // Control, Shift and the key (AppKit's rule), unless setKeyEquivalentModifierMask says otherwise.
    explicit MenuItem(const QString& title, std::function<void()> action = {}, const QString& keyEquivalent = {});
    // A separator line (tag 0 unless given).
    static MenuItem* separatorItem();

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    void setAction(std::function<void()> action) { m_action = std::move(action); }
    const std::function<void()>& action() const { return m_action; }
    bool hasAction() const { return static_cast<bool>(m_action); }
    QString keyEquivalent() const { return m_key; }
    void setKeyEquivalent(const QString& key);
    void setKeyEquivalentModifierMask(Qt::KeyboardModifiers modifiers);
    // The tick: 1 shown, 0 not. Choosing the item does not change it.
    int state() const { return m_state; }
    void setState(int state);
    bool isHidden() const { return !isVisible(); }
    void setHidden(bool hidden) { setVisible(!hidden); }
    // The submenu this item opens (owned by the item's menu once the item is in one).
    Menu* submenu() const { return m_submenu; }
    void setSubmenu(Menu* submenu);
    bool hasSubmenu() const { return m_submenu != nullptr; }

    // Whether the key press is this item's key equivalent.
    bool matchesKey(QKeyCombination key) const;

private:
    void updateShortcut();

    int m_tag = 0;
    int m_state = 0;
    std::function<void()> m_action;
    QString m_key;
    Qt::KeyboardModifiers m_modifiers = Qt::ControlModifier;
    bool m_maskSet = false;
    Menu* m_submenu = nullptr;
};

class Menu : public QMenu {
public:
    explicit Menu(const QString& title = {});

    // Adds item at the end (the menu owns it) and returns it.
    MenuItem* addItem(MenuItem* item);
    MenuItem* addItemWithTitle(const QString& title, std::function<void()> action = {},
                               const QString& keyEquivalent = {});
    MenuItem* addSeparatorItem() { return addItem(MenuItem::separatorItem()); }
    MenuItem* insertItem(MenuItem* item, int index);
    // Removes item and deletes it.
    void removeItem(MenuItem* item);
    void removeItemAtIndex(int index) { removeItem(itemAtIndex(index)); }
    void removeAllItems();

    int numberOfItems() const;
    MenuItem* itemAtIndex(int index) const;
    int indexOfItem(const MenuItem* item) const;
    MenuItem* itemWithTag(int tag) const;
    int indexOfItemWithTag(int tag) const;
    MenuItem* itemWithTitle(const QString& title) const;
    // Gives submenu to item (the item must be in this menu); the menu owns the submenu.
    void setSubmenu(Menu* submenu, MenuItem* item);

    // Shows the menu with item (or the first item) at location, a point of view in the kit's
    // coordinates, or of the screen (Qt's) when view is null; returns when an item was chosen (its
    // action has run then: true) or the menu was dismissed (false).
    bool popUpMenuPositioningItem(MenuItem* item, Point location, QWidget* view);
    bool popUpAtScreenPoint(const QPoint& global, MenuItem* item = nullptr);

    // Runs the enabled, shown item (here or in a submenu) whose key equivalent key is; true if one ran.
    bool performKeyEquivalent(QKeyCombination key);
};

}  // namespace kit
