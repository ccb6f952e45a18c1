#include "ui/kit/SearchField.h"

#include <QAction>
#include <QPainter>
#include <QPainterPath>

namespace kit {

namespace {

// The two buttons' pictures, drawn here so that the field needs no image files.
QIcon MagnifierIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(110, 110, 110), 1.6));
    painter.drawEllipse(QRectF(1.5, 1.5, 8, 8));
    painter.drawLine(QPointF(8.5, 8.5), QPointF(12, 12));
    QPainterPath triangle;  // the menu's mark
    triangle.moveTo(11, 13);
    triangle.lineTo(16, 13);
    triangle.lineTo(13.5, 16);
    triangle.closeSubpath();
    painter.fillPath(triangle, QColor(110, 110, 110));
    return QIcon(pixmap);
}

QIcon CancelIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(160, 160, 160));
    painter.drawEllipse(QRectF(1, 1, 14, 14));
    painter.setPen(QPen(Qt::white, 1.6));
    painter.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
    painter.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    return QIcon(pixmap);
}

// A copy of a template item, with its title, tag, action, key, tick and states.
MenuItem* CopyOf(const MenuItem& item) {
    if (item.isSeparator()) {
        MenuItem* separator = MenuItem::separatorItem();
        separator->setTag(item.tag());
        return separator;
    }
    auto* copy = new MenuItem(item.text(), item.action(), item.keyEquivalent());
    copy->setTag(item.tag());
    copy->setEnabled(item.isEnabled());
    copy->setVisible(item.isVisible());
    if (item.isCheckable()) copy->setState(item.state());
    return copy;
}

}  // namespace

SearchField::SearchField(const Rect& frame) : TextField(frame) {
    m_searchButton = addAction(MagnifierIcon(), QLineEdit::LeadingPosition);
    m_searchButton->setToolTip(QString());
    QObject::connect(m_searchButton, &QAction::triggered, this, [this] { popUpSearchMenu(); });
    m_cancelButton = addAction(CancelIcon(), QLineEdit::TrailingPosition);
    QObject::connect(m_cancelButton, &QAction::triggered, this, [this] { cancel(); });
    QObject::connect(this, &QLineEdit::textChanged, this, [this] { updateCancelButton(); });
    updateCancelButton();
}

SearchField::~SearchField() = default;

void SearchField::setSearchMenuTemplate(Menu* menu) {
    if (menu == m_template.get()) return;
    m_menu.reset();
    m_template.reset(menu);
    if (m_template) m_template->setParent(nullptr);  // owned here, not by a former parent
}

void SearchField::setRecentSearches(const QStringList& searches) {
    m_recents = searches.mid(0, m_maximumRecents);
}

void SearchField::setMaximumRecents(int maximum) {
    m_maximumRecents = std::max(0, maximum);
    m_recents = m_recents.mid(0, m_maximumRecents);
}

void SearchField::noteRecent(const QString& search) {
    if (search.isEmpty() || m_maximumRecents == 0) return;
    m_recents.removeAll(search);
    m_recents.prepend(search);
    m_recents = m_recents.mid(0, m_maximumRecents);
}

void SearchField::didPressReturn() {
    noteRecent(text());
    sendAction();
}

void SearchField::chooseRecentSearch(const QString& search) {
    setText(search);
    noteRecent(search);
    sendAction();
}

void SearchField::cancel() {
    clear();
    if (m_cancelAction) {
        std::function<void()> action = m_cancelAction;
        action();
    } else {
        sendAction();
    }
}

void SearchField::updateCancelButton() { m_cancelButton->setVisible(!text().isEmpty()); }

Menu* SearchField::searchMenu() {
    if (!m_template) return nullptr;
    // A new menu each time: the recent searches change between showings.
    auto menu = std::make_unique<Menu>(m_template->title());
    const bool haveRecents = !m_recents.isEmpty();
    for (int i = 0; i < m_template->numberOfItems(); ++i) {
        const MenuItem* item = m_template->itemAtIndex(i);
        if (!item) continue;
        switch (item->tag()) {
            case kSearchFieldRecentsMenuItemTag:
                for (const QString& search : m_recents) {
                    MenuItem* recent = menu->addItemWithTitle(search, [this, search] { chooseRecentSearch(search); });
                    recent->setTag(kSearchFieldRecentsMenuItemTag);
                }
                continue;
            case kSearchFieldRecentsTitleMenuItemTag:
            case kSearchFieldClearRecentsMenuItemTag:
                if (!haveRecents) continue;
                break;
            case kSearchFieldNoRecentsMenuItemTag:
                if (haveRecents) continue;
                break;
            default: break;
        }
        menu->addItem(CopyOf(*item));
    }
    // The menu shown before may be running one of its items now: it goes once control is back.
    if (m_menu) m_menu.release()->deleteLater();
    m_menu = std::move(menu);
    return m_menu.get();
}

void SearchField::popUpSearchMenu() {
    if (Menu* menu = searchMenu()) menu->popup(mapToGlobal(QPoint(0, height())));
}

}  // namespace kit
