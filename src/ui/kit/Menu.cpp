#include "ui/kit/Menu.h"

#include "ui/kit/ViewBase.h"

namespace kit {

// ---- MenuItem

MenuItem::MenuItem(const QString& title, std::function<void()> action, const QString& keyEquivalent)
    : QAction(title), m_action(std::move(action)) {
    // Shortcuts belong to the menu while it shows; in windows the application dispatches them.
    setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(this, &QAction::triggered, this, [this] {
        // Qt flips a checkable action's tick when it is chosen; here the tick changes only by setState.
        if (isCheckable()) setChecked(m_state != 0);
        if (std::function<void()> run = m_action) run();  // a copy: the action may replace itself
    });
    setKeyEquivalent(keyEquivalent);
}

MenuItem* MenuItem::separatorItem() {
    auto* item = new MenuItem(QString());
    item->setSeparator(true);
    return item;
}

void MenuItem::setKeyEquivalent(const QString& key) {
    m_key = key.left(1);
    updateShortcut();
}

void MenuItem::setKeyEquivalentModifierMask(Qt::KeyboardModifiers modifiers) {
    m_modifiers = modifiers;
    m_maskSet = true;
    updateShortcut();
}

void MenuItem::updateShortcut() {
    if (m_key.isEmpty()) {
        setShortcut(QKeySequence());
        return;
    }
    const QChar c = m_key.front();
    Qt::KeyboardModifiers modifiers = m_modifiers;
    if (!m_maskSet && c.isLetter() && c.isUpper()) modifiers |= Qt::ShiftModifier;
    const QKeySequence bare(QString(c.toUpper()));
    if (bare.isEmpty()) {
        setShortcut(QKeySequence());
        return;
    }
    setShortcut(QKeySequence(QKeyCombination(modifiers, bare[0].key())));
}

void MenuItem::setState(int state) {
    m_state = state != 0 ? 1 : 0;
    setCheckable(true);
    setChecked(m_state != 0);
}

void MenuItem::setSubmenu(Menu* submenu) {
    m_submenu = submenu;
    setMenu(submenu);
    if (auto* menu = qobject_cast<QWidget*>(parent()); menu && submenu) submenu->setParent(menu, submenu->windowFlags());
}

bool MenuItem::matchesKey(QKeyCombination key) const {
    if (shortcut().isEmpty()) return false;
    const QKeyCombination mine = shortcut()[0];
    const Qt::KeyboardModifiers modifiers = key.keyboardModifiers() & ~Qt::KeypadModifier;
    return mine.key() == key.key() && mine.keyboardModifiers() == modifiers;
}

// ---- Menu

Menu::Menu(const QString& title) : QMenu(title) {}

MenuItem* Menu::addItem(MenuItem* item) { return insertItem(item, numberOfItems()); }

MenuItem* Menu::addItemWithTitle(const QString& title, std::function<void()> action, const QString& keyEquivalent) {
    return addItem(new MenuItem(title, std::move(action), keyEquivalent));
}

MenuItem* Menu::insertItem(MenuItem* item, int index) {
    if (!item) return nullptr;
    item->setParent(this);
    if (Menu* submenu = item->submenu()) submenu->setParent(this, submenu->windowFlags());
    const QList<QAction*> all = actions();
    QAction* before = index >= 0 && index < all.size() ? all[index] : nullptr;
    insertAction(before, item);
    return item;
}

void Menu::removeItem(MenuItem* item) {
    if (!item || indexOfItem(item) < 0) return;
    removeAction(item);
    delete item;
}

void Menu::removeAllItems() {
    while (numberOfItems() > 0) removeItem(itemAtIndex(0));
}

int Menu::numberOfItems() const { return int(actions().size()); }

MenuItem* Menu::itemAtIndex(int index) const {
    const QList<QAction*> all = actions();
    return index >= 0 && index < all.size() ? dynamic_cast<MenuItem*>(all[index]) : nullptr;
}

int Menu::indexOfItem(const MenuItem* item) const {
    const QList<QAction*> all = actions();
    for (int i = 0; i < all.size(); ++i) {
        if (all[i] == item) return i;
    }
    return -1;
}

MenuItem* Menu::itemWithTag(int tag) const { return itemAtIndex(indexOfItemWithTag(tag)); }

int Menu::indexOfItemWithTag(int tag) const {
    for (int i = 0; i < numberOfItems(); ++i) {
        const MenuItem* item = itemAtIndex(i);
        if (item && item->tag() == tag) return i;
    }
    return -1;
}

MenuItem* Menu::itemWithTitle(const QString& title) const {
    for (int i = 0; i < numberOfItems(); ++i) {
        MenuItem* item = itemAtIndex(i);
        if (item && item->text() == title) return item;
    }
    return nullptr;
}

void Menu::setSubmenu(Menu* submenu, MenuItem* item) {
    if (!item || indexOfItem(item) < 0) return;
    item->setSubmenu(submenu);
}

bool Menu::popUpMenuPositioningItem(MenuItem* item, Point location, QWidget* view) {
    QPoint global(int(RoundHalfAway(location.x)), int(RoundHalfAway(location.y)));
    if (view) {
        const ViewFrame* frame = AsView(view);
        const QPointF local = frame ? frame->qtRect(MakeRect(location.x, location.y, 0, 0)).topLeft()
                                    : QPointF(location.x, location.y);
        global = view->mapToGlobal(local.toPoint());
    }
    return popUpAtScreenPoint(global, item);
}

bool Menu::popUpAtScreenPoint(const QPoint& global, MenuItem* item) { return exec(global, item) != nullptr; }

bool Menu::performKeyEquivalent(QKeyCombination key) {
    for (int i = 0; i < numberOfItems(); ++i) {
        MenuItem* item = itemAtIndex(i);
        if (!item || !item->isVisible() || !item->isEnabled()) continue;
        if (Menu* submenu = item->submenu()) {
            if (submenu->performKeyEquivalent(key)) return true;
            continue;
        }
        if (item->matchesKey(key)) {
            item->trigger();
            return true;
        }
    }
    return false;
}

}  // namespace kit
