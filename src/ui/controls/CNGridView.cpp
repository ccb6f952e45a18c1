#include "ui/controls/CNGridView.h"

#include <QApplication>
#include <QPainterPath>
#include <QPalette>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "platform/foundation/NotificationCenter.h"
#include "ui/kit/Animation.h"
#include "ui/kit/Scheduler.h"

using brelvox::foundation::NotificationCenter;

namespace {

constexpr double kSide = kCNGridCellSide;
constexpr double kFadeInSeconds = 0.35;
constexpr double kMoveSeconds = 0.15;
constexpr double kRedisplayDelay = 0.3;

// AppKit's control colour.
QColor ControlColor() { return QColor(236, 236, 236); }

uint64_t ModifierFlags(Qt::KeyboardModifiers modifiers) {
    uint64_t flags = 0;
    if (modifiers & Qt::ShiftModifier) flags |= CNShiftKeyMask;
    if (modifiers & Qt::ControlModifier) flags |= CNCommandKeyMask;
    return flags;
}

}  // namespace

// --- CNSelectionFrameView ---

CNSelectionFrameView::CNSelectionFrameView(const kit::Rect& frame) : kit::View(frame) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CNSelectionFrameView::drawRect(QPainter& painter, const kit::Rect&) {
    const kit::Rect b = bounds();
    const QRectF r(0.5, 0.5, std::floor(b.width()) - 1, std::floor(b.height()) - 1);
    if (r.width() <= 0 || r.height() <= 0) return;
    painter.fillRect(r, QColor(0, 0, 0, int(std::lround(0.15 * 255))));
    painter.setPen(QPen(Qt::white, 1.0));
    painter.drawRect(r);
}

// --- CNGridScrollView ---

CNGridScrollView::CNGridScrollView(const kit::Rect& frame) : kit::ViewBase<QAbstractScrollArea>(frame) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(int(kSide / 5));
    setBackgroundColor(ControlColor());
}

void CNGridScrollView::setDocumentView(CNGridView* grid) {
    if (grid == m_grid) return;
    delete m_grid;
    m_grid = grid;
    if (!grid) return;
    grid->setParent(viewport());
    grid->m_scrollView = this;
    grid->show();
    placeGrid();
    grid->setFrame(kit::MakeRect(0, 0, viewport()->width(), grid->frame().height()));
}

void CNGridScrollView::setHasVerticalScroller(bool on) {
    setVerticalScrollBarPolicy(on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

kit::Rect CNGridScrollView::clipBounds() const {
    return kit::MakeRect(0, verticalScrollBar()->value(), viewport()->width(), viewport()->height());
}

void CNGridScrollView::scrollToY(double y) { verticalScrollBar()->setValue(int(std::lround(y))); }

void CNGridScrollView::setBackgroundColor(const QColor& color) {
    m_background = color;
    QPalette p = viewport()->palette();
    p.setColor(QPalette::Window, color);
    viewport()->setPalette(p);
    viewport()->setAutoFillBackground(true);
}

void CNGridScrollView::documentHeightChanged() {
    if (!m_grid) return;
    const double height = m_grid->frame().height();
    const int page = viewport()->height();
    // The scroll bar counts in points; an int reaches far past any grid this program shows.
    const double maximum = std::clamp(std::ceil(height) - page, 0.0, double(std::numeric_limits<int>::max()));
    verticalScrollBar()->setRange(0, int(maximum));
    verticalScrollBar()->setPageStep(page);
}

void CNGridScrollView::scrollContentsBy(int, int) {
    if (!m_grid) return;
    m_grid->updateVisibleRect();
    m_grid->update();
}

void CNGridScrollView::resizeEvent(QResizeEvent* event) {
    kit::ViewBase<QAbstractScrollArea>::resizeEvent(event);
    if (!m_grid) return;
    placeGrid();
    documentHeightChanged();
    const kit::Rect f = m_grid->frame();
    m_grid->setFrame(kit::MakeRect(f.x(), f.y(), viewport()->width(), f.height()));
    // The clip's bounds changed with its size.
    m_grid->updateVisibleRect();
}

void CNGridScrollView::placeGrid() {
    if (m_grid) m_grid->QWidget::setGeometry(viewport()->rect());
}

// --- CNGridView: creation and properties ---

CNGridView::CNGridView(const kit::Rect& frame) : kit::View(frame), m_virtualFrame(frame) {
    setMouseTracking(true);  // hover
    setFocusPolicy(Qt::ClickFocus);
    // The canvas paints the scroll view's background colour under the items.
    kit::View::setBackgroundColor(ControlColor());
}

CNGridView::~CNGridView() {
    kit::Scheduler::current().cancelPreviousPerformRequests(this);
    *m_alive = false;
    m_moves.clear();
}

void CNGridView::setFrame(const kit::Rect& frame) {
    const bool widthChanged = frame.width() != m_virtualFrame.width();
    m_virtualFrame = frame;
    if (m_scrollView) m_scrollView->documentHeightChanged();
    refreshGridViewAnimated(widthChanged, true);
    kit::Scheduler::current().cancelPreviousPerformRequests(this);
    kit::Scheduler::current().performAfterDelay(this, kRedisplayDelay, [this] { update(); });
}

void CNGridView::setVirtualFrameSize(kit::Size size) {
    m_virtualFrame.size = size;
    if (m_scrollView) m_scrollView->documentHeightChanged();
    else QWidget::resize(int(std::lround(size.width)), int(std::lround(std::min(size.height, 16777215.0))));
}

kit::Rect CNGridView::clippedRect() const {
    if (m_scrollView) return m_scrollView->clipBounds();
    return kit::MakeRect(0, 0, m_virtualFrame.width(), m_virtualFrame.height());
}

void CNGridView::setItemSize(kit::Size) { refreshGridViewAnimated(true, true); }

void CNGridView::setBackgroundColor(const QColor&) {
    if (m_scrollView) m_scrollView->setBackgroundColor(ControlColor());
}

void CNGridView::setScrollElasticity(bool) {
    // The current-system branch: elasticity allowed on both axes.
    if (m_scrollView) m_scrollView->setScrollElasticity(2);
}

void CNGridView::setAllowsMultipleSelection(bool on) {
    m_allowsMultipleSelection = on;
    if (on || m_selectedItems.empty()) return;
    NotificationCenter::Default().Post(CNGridViewDeSelectAllItemsNotification, this);
    m_selectedItems.clear();
}

// --- Data ---

CNIndexSet CNGridView::visibleIndexes() const {
    CNIndexSet set;
    const auto [start, length] = visibleItemRange();
    for (int64_t i = start; i < start + length; ++i) set.insert(i);
    return set;
}

CNIndexSet CNGridView::indexesForVisibleItems() const {
    CNIndexSet set;
    for (const auto& [key, item] : m_keyedVisibleItems) set.insert(item->index());
    return set;
}

CNGridViewItemBase* CNGridView::visibleItemAtIndex(int64_t index) const {
    const auto it = m_keyedVisibleItems.find(index);
    return it == m_keyedVisibleItems.end() ? nullptr : it->second;
}

size_t CNGridView::reusePoolCount() const {
    size_t count = 0;
    for (const auto& [identifier, items] : m_reuseableItems) count += items.size();
    return count;
}

CNGridViewItemBase* CNGridView::dequeueReusableItemWithIdentifier(const std::string& identifier) {
    const auto it = m_reuseableItems.find(identifier);
    if (it == m_reuseableItems.end() || it->second.empty()) return nullptr;
    CNGridViewItemBase* item = it->second.back();
    it->second.pop_back();
    item->setRepresentedObject(nullptr);
    return item;
}

uint64_t CNGridView::dataSourceCount() {
    // Without a data source the grid holds no items.
    return m_dataSource ? m_dataSource->gridViewNumberOfItemsInSection(this, 0) : 0;
}

void CNGridView::removeItemView(CNGridViewItemBase* item) {
    m_moves.erase(item);
    item->hide();
}

void CNGridView::dropItemView(CNGridViewItemBase* item) {
    removeItemView(item);
    // A view the grid lets go of ends, unless the selection table still holds it.
    for (const auto& [index, selected] : m_selectedItems) {
        if (selected == item) return;
    }
    m_allItems.erase(item);
    item->deleteLater();
}

void CNGridView::enqueueForReuse(CNGridViewItemBase* item) {
    removeItemView(item);
    item->prepareForReuse();
    m_reuseableItems[item->reuseIdentifier()].push_back(item);
}

void CNGridView::reloadDataAnimated(bool animated) {
    m_numberOfItems = dataSourceCount();
    std::vector<CNGridViewItemBase*> dropped;
    for (const auto& [index, item] : m_keyedVisibleItems) dropped.push_back(item);
    for (const auto& [identifier, items] : m_reuseableItems) dropped.insert(dropped.end(), items.begin(), items.end());
    m_keyedVisibleItems.clear();
    m_reuseableItems.clear();
    for (CNGridViewItemBase* item : dropped) dropItemView(item);
    refreshGridViewAnimated(animated, true);
}

void CNGridView::insertItemAtIndex(int64_t index, bool animated) { insertItemsAtIndexes(CNIndexSet{index}, animated); }

void CNGridView::insertItemsAtIndexes(const CNIndexSet& indexes, bool animated) {
    if (indexes.empty()) return;
    const int64_t first = *indexes.begin();
    std::vector<CNGridViewItemBase*> moved;
    for (auto it = m_keyedVisibleItems.rbegin(); it != m_keyedVisibleItems.rend(); ++it) {
        if (it->first >= first) moved.push_back(it->second);
    }
    for (CNGridViewItemBase* item : moved) {
        const int64_t old = item->index();
        // Moves by the whole length of every run of the set that starts at or before it.
        int64_t shift = 0;
        for (auto it = indexes.begin(); it != indexes.end() && *it <= old;) {
            int64_t end = *it;
            auto next = std::next(it);
            while (next != indexes.end() && *next == end + 1) end = *next++;
            shift += end - *it + 1;
            it = next;
        }
        m_keyedVisibleItems.erase(old);
        m_keyedVisibleItems[old + shift] = item;
        item->setIndex(old + shift);
    }
    for (CNGridViewItemBase* item : moved) moveItem(item, rectForItemAtIndex(item->index()), animated ? kMoveSeconds : 0);
    m_numberOfItems += indexes.size();
    refreshGridViewAnimated(animated, true);
}

void CNGridView::removeItemsAtIndexes(const CNIndexSet& indexes, bool animated) {
    if (indexes.empty()) return;
    const int64_t first = *indexes.begin();
    std::vector<CNGridViewItemBase*> collected;
    for (auto it = m_keyedVisibleItems.rbegin(); it != m_keyedVisibleItems.rend(); ++it) {
        if (it->first >= first) collected.push_back(it->second);
    }
    for (CNGridViewItemBase* item : collected) {
        m_keyedVisibleItems.erase(item->index());
        // Animated or not, the items go back to the pool (the animation only fades what leaves).
        enqueueForReuse(item);
    }
    m_numberOfItems -= std::min<uint64_t>(m_numberOfItems, indexes.size());
    refreshGridViewAnimated(animated, false);
}

void CNGridView::reloadItemsAtIndexes(const CNIndexSet& indexes, bool animated) {
    if (indexes.empty()) return;
    if (!m_keyedVisibleItems.empty()) {
        std::vector<CNGridViewItemBase*> collected;
        for (auto it = m_keyedVisibleItems.rbegin(); it != m_keyedVisibleItems.rend(); ++it) {
            if (indexes.count(it->first)) collected.push_back(it->second);
        }
        for (CNGridViewItemBase* item : collected) {
            m_keyedVisibleItems.erase(item->index());
            dropItemView(item);
        }
    }
    refreshGridViewAnimated(animated, false);
}

// --- Geometry ---

uint64_t CNGridView::columnsInGridView() const {
    const float columns = std::floor(float(clippedRect().width()) / float(kSide));
    return columns < 1 ? 1 : uint64_t(columns);
}

uint64_t CNGridView::visibleRowsInGridView() const {
    return uint64_t(std::max(0.0f, std::ceil(float(clippedRect().height()) / float(kSide))));
}

uint64_t CNGridView::allOverRowsInGridView() const {
    const uint64_t c = columnsInGridView();
    return (m_numberOfItems + c - 1) / c;
}

kit::Rect CNGridView::rectForItemAtIndex(int64_t index) const {
    const int64_t c = int64_t(columnsInGridView());
    return kit::MakeRect(double(index % c) * kSide + m_contentInset, double(index / c) * kSide + m_contentInset, kSide,
                         kSide);
}

CNItemPoint CNGridView::locationForItemAtIndex(int64_t index) const {
    const uint64_t c = columnsInGridView();
    const uint64_t row = uint64_t(index) / c + 1;
    return CNMakeItemPoint(uint64_t(index) - (row - 1) * c + 1, row);
}

int64_t CNGridView::indexForItemAtLocation(kit::Point p) const {
    const double c = double(columnsInGridView());
    if (p.x > c * kSide + m_contentInset || p.x < m_contentInset || p.y < m_contentInset) return CNNotFound;
    const double column = std::floor((p.x - m_contentInset) / kSide);
    const double row = std::floor((p.y - m_contentInset) / kSide);
    if (column >= c) return CNNotFound;
    const double index = row * c + column;
    if (m_numberOfItems == 0 || index > double(m_numberOfItems - 1)) return CNNotFound;
    return int64_t(index);
}

int64_t CNGridView::boundIndexForItemAtLocation(kit::Point p) const {
    const double c = double(columnsInGridView());
    const double x = std::clamp(p.x, 0.0, c * kSide);
    const double y = std::max(p.y, 0.0);
    return int64_t(std::floor(y / kSide) * c + std::floor(x / kSide));
}

std::pair<int64_t, int64_t> CNGridView::visibleItemRange() const {
    const int64_t c = int64_t(columnsInGridView());
    const int64_t r = int64_t(visibleRowsInGridView());
    const int64_t n = int64_t(m_numberOfItems);
    const double y = clippedRect().y();
    // In double precision: a float loses whole rows past 2^24 points.
    const int64_t start = y <= kSide ? 0 : int64_t(std::ceil(y / kSide)) * c - c;
    if (start >= n) return {start, 0};
    int64_t length = std::min(n, c * r + c);
    if (start + length > n) length = n - start;
    return {start, length};
}

kit::Point CNGridView::gridPointFromWidget(const QPointF& p) const {
    const kit::Rect clip = clippedRect();
    return kit::MakePoint(p.x() + (m_scrollView ? clip.x() : 0), p.y() + (m_scrollView ? clip.y() : 0));
}

QPointF CNGridView::widgetPointFromGrid(kit::Point p) const {
    const kit::Rect clip = clippedRect();
    return QPointF(p.x - (m_scrollView ? clip.x() : 0), p.y - (m_scrollView ? clip.y() : 0));
}

// --- Layout ---

void CNGridView::refreshInset() {
    if (!m_useCenterAlignment) {
        m_contentInset = 0;
        return;
    }
    const float width = float(clippedRect().width());
    m_contentInset = std::floor((width - float(columnsInGridView()) * float(kSide)) / 2.0f);
}

void CNGridView::refreshGridViewAnimated(bool animated, bool initialCall) {
    m_isInitialCall = initialCall;
    const double wanted = double(allOverRowsInGridView()) * kSide + 2 * m_contentInset;
    if (std::fabs(wanted - m_virtualFrame.height()) > 1.0) setVirtualFrameSize(kit::MakeSize(m_virtualFrame.width(), wanted));
    refreshInset();
    // The rest runs one turn of the event loop later.
    std::weak_ptr<bool> alive = m_alive;
    QMetaObject::invokeMethod(
        this,
        [this, alive, animated] {
            if (alive.expired()) return;
            refreshInset();
            updateReuseableItems();
            updateVisibleItems();
            arrangeGridViewItemsAnimated(animated);
        },
        Qt::QueuedConnection);
}

void CNGridView::updateVisibleRect() {
    updateReuseableItems();
    updateVisibleItems();
    arrangeGridViewItemsAnimated(false);
}

void CNGridView::updateReuseableItems() {
    if (!m_selectedItems.empty()) return;
    const auto [start, length] = visibleItemRange();
    std::vector<CNGridViewItemBase*> leaving;
    for (const auto& [index, item] : m_keyedVisibleItems) {
        if ((index < start || index >= start + length) && item->isReuseable()) leaving.push_back(item);
    }
    for (CNGridViewItemBase* item : leaving) {
        m_keyedVisibleItems.erase(item->index());
        enqueueForReuse(item);
    }
}

void CNGridView::updateVisibleItems() {
    const auto [start, length] = visibleItemRange();
    for (int64_t index = start; index < start + length; ++index) {
        if (m_keyedVisibleItems.count(index)) continue;
        CNGridViewItemBase* item = m_dataSource ? m_dataSource->gridViewItemAtIndex(this, index, 0) : nullptr;
        if (!item) continue;
        item->setIndex(index);
        if (m_isInitialCall) item->setAlphaValue(0.0);
        m_allItems.insert(item);
        if (item->parentWidget() != this) addSubview(item);
        item->m_inGrid = true;
        item->m_gridFrame = rectForItemAtIndex(index);
        placeItem(item);
        item->show();
        m_keyedVisibleItems[index] = item;
    }
}

void CNGridView::arrangeGridViewItemsAnimated(bool animated) {
    if (m_keyedVisibleItems.empty()) return;
    if (m_isInitialCall) {
        m_isInitialCall = false;
        for (const auto& [index, item] : m_keyedVisibleItems) item->animateAlphaValue(1.0, kFadeInSeconds);
        return;
    }
    for (const auto& [index, item] : m_keyedVisibleItems) {
        moveItem(item, rectForItemAtIndex(index), animated ? kMoveSeconds : 0.0);
    }
}

void CNGridView::moveItem(CNGridViewItemBase* item, const kit::Rect& to, double seconds) {
    const kit::Rect from = item->m_gridFrame;
    if (from == to) {
        m_moves.erase(item);
        placeItem(item);
        return;
    }
    kit::Animation::run(m_moves[item], seconds, [this, item, from, to](double t) {
        item->m_gridFrame = kit::MakeRect(from.x() + (to.x() - from.x()) * t, from.y() + (to.y() - from.y()) * t,
                                          to.width(), to.height());
        placeItem(item);
    });
}

void CNGridView::placeItem(CNGridViewItemBase* item) {
    const QPointF origin = widgetPointFromGrid(item->m_gridFrame.origin);
    item->QWidget::setGeometry(int(std::lround(origin.x())), int(std::lround(origin.y())),
                               int(std::lround(item->m_gridFrame.width())),
                               int(std::lround(item->m_gridFrame.height())));
}

void CNGridView::drawRect(QPainter&, const kit::Rect&) {
    // The background is the scroll view's; the items draw themselves.
}

// --- Notifications and delegate calls ---

void CNGridView::post(const char* name, CNGridViewNotificationInfo info, bool withInfo) {
    if (withInfo) {
        NotificationCenter::Default().Post(name, this, std::move(info));
    } else {
        NotificationCenter::Default().Post(name, this);
    }
}

namespace {
CNGridViewNotificationInfo IndexInfo(int64_t index) {
    CNGridViewNotificationInfo info;
    info.index = index;
    return info;
}
}  // namespace

void CNGridView::willHover(int64_t i) {
    post(CNGridViewWillHoverItemNotification, IndexInfo(i));
    if (m_delegate) m_delegate->gridViewWillHoverItemAtIndex(this, uint64_t(i), 0);
}
void CNGridView::willUnhover(int64_t i) {
    post(CNGridViewWillUnhoverItemNotification, IndexInfo(i));
    if (m_delegate) m_delegate->gridViewWillUnhoverItemAtIndex(this, uint64_t(i), 0);
}
void CNGridView::willSelect(int64_t i) {
    post(CNGridViewWillSelectItemNotification, IndexInfo(i));
    if (m_delegate) m_delegate->gridViewWillSelectItemAtIndex(this, uint64_t(i), 0);
}
void CNGridView::didSelect(int64_t i) {
    post(CNGridViewDidSelectItemNotification, IndexInfo(i));
    if (m_delegate) m_delegate->gridViewDidSelectItemAtIndex(this, uint64_t(i), 0);
}
void CNGridView::willDeselect(int64_t i) {
    post(CNGridViewWillDeselectItemNotification, IndexInfo(i));
    if (m_delegate) m_delegate->gridViewWillDeselectItemAtIndex(this, uint64_t(i), 0);
}
void CNGridView::didDeselect(int64_t i) {
    post(CNGridViewDidDeselectItemNotification, IndexInfo(i));
    if (m_delegate) m_delegate->gridViewDidDeselectItemAtIndex(this, uint64_t(i), 0);
}
void CNGridView::didClick(int64_t i) {
    post(CNGridViewDidClickItemNotification, IndexInfo(i));
    if (m_delegate) m_delegate->gridViewDidClickItemAtIndex(this, uint64_t(i), 0);
}
void CNGridView::didDoubleClick(int64_t i) {
    post(CNGridViewDidDoubleClickItemNotification, IndexInfo(i));
    if (m_delegate) m_delegate->gridViewDidDoubleClickItemAtIndex(this, uint64_t(i), 0);
}
void CNGridView::didActivateContextMenu(const CNIndexSet& indexes) {
    CNGridViewNotificationInfo info;
    info.indexes = indexes;
    post(CNGridViewRightMouseButtonClickedOnItemNotification, info);
    if (m_delegate) m_delegate->gridViewDidActivateContextMenuWithIndexes(this, indexes, 0);
}

// --- Selection ---

void CNGridView::selectItem(CNGridViewItemBase* item) {
    if (!item || m_selectedItems.count(item->index())) return;
    const int64_t index = item->index();
    willSelect(index);
    item->setSelected(true);
    m_selectedItems[index] = item;
    didSelect(index);
}

void CNGridView::deSelectItem(CNGridViewItemBase* item) {
    if (!item || !m_selectedItems.count(item->index())) return;
    const int64_t index = item->index();
    willDeselect(index);
    item->setSelected(false);
    m_selectedItems.erase(index);
    didDeselect(index);
}

void CNGridView::selectAllItems() {
    const uint64_t count = dataSourceCount();
    for (uint64_t i = 0; i < count; ++i) {
        CNGridViewItemBase* item = m_dataSource->gridViewItemAtIndex(this, int64_t(i), 0);
        if (!item) continue;
        m_allItems.insert(item);
        item->setSelected(true);
        item->setIndex(int64_t(i));
        m_selectedItems[int64_t(i)] = item;
    }
}

void CNGridView::deselectAllItems() {
    if (m_selectedItems.empty()) return;
    const std::vector<CNGridViewItemBase*> items = selectedItems();
    CNGridViewNotificationInfo info;
    info.items = items;
    post(CNGridViewWillDeselectAllItemsNotification, info);
    if (m_delegate) m_delegate->gridViewWillDeselectAllItems(this, items);
    NotificationCenter::Default().Post(CNGridViewDeSelectAllItemsNotification, this);
    m_selectedItems.clear();
    post(CNGridViewDidDeselectAllItemsNotification, {}, false);
    if (m_delegate) m_delegate->gridViewDidDeselectAllItems(this);
}

std::vector<CNGridViewItemBase*> CNGridView::selectedItems() const {
    std::vector<CNGridViewItemBase*> items;
    for (const auto& [index, item] : m_selectedItems) items.push_back(item);
    return items;
}

CNIndexSet CNGridView::selectedIndexes() const {
    CNIndexSet set;
    for (const auto& [index, item] : m_selectedItems) set.insert(item->index());
    return set;
}

void CNGridView::selectItemAtIndex(int64_t index, uint64_t flags) {
    if (index == CNNotFound) return;
    if (m_lastSelectedItemIndex != CNNotFound && m_lastSelectedItemIndex != index) {
        if (CNGridViewItemBase* last = visibleItemAtIndex(m_lastSelectedItemIndex)) deSelectItem(last);
    }
    CNGridViewItemBase* item = visibleItemAtIndex(index);
    if (!item) return;
    const bool shift = flags & CNShiftKeyMask;
    const bool command = flags & CNCommandKeyMask;
    if (m_allowsMultipleSelection) {
        if (!item->selected() && !shift && !command) {
            deselectAllItems();
            selectItem(item);
        } else if (item->selected() && command) {
            deSelectItem(item);
        } else if (!item->selected() && command) {
            selectItem(item);
        } else if (shift) {
            if (m_selectedItems.empty()) {
                selectItem(item);
            } else {
                const int64_t last = *selectedIndexes().rbegin();
                for (int64_t i = std::min(last, index); i <= std::max(last, index); ++i) {
                    CNGridViewItemBase* other = visibleItemAtIndex(i);
                    if (other && !other->selected()) selectItem(other);
                }
            }
        } else if (item->selected()) {
            deselectAllItems();
            selectItem(item);
        }
    } else if (command && item->selected()) {
        deSelectItem(item);
    } else {
        selectItem(item);
    }
    m_lastSelectedItemIndex = m_allowsMultipleSelection ? CNNotFound : index;
}

// --- Hover, mouse and keyboard ---

void CNGridView::hoverItemAtIndex(int64_t index) {
    willHover(index);
    m_lastHoveredIndex = index;
    if (CNGridViewItemBase* item = visibleItemAtIndex(index)) item->setHovered(true);
}

void CNGridView::unHoverItemAtIndex(int64_t index) {
    willUnhover(index);
    if (CNGridViewItemBase* item = visibleItemAtIndex(index)) item->setHovered(false);
}

void CNGridView::mouseMoved(QMouseEvent* event) {
    if (!m_useHover) return;
    const int64_t index = indexForItemAtLocation(gridPointFromWidget(event->position()));
    if (index == CNNotFound && m_lastHoveredIndex == CNNotFound) return;
    if (m_lastHoveredIndex != CNNotFound && m_lastHoveredIndex != index) unHoverItemAtIndex(m_lastHoveredIndex);
    if (m_lastHoveredIndex != index) hoverItemAtIndex(index);
}

void CNGridView::mouseExited(QEvent*) {
    // The item keeps its hovered look, as the pointer leaving the grid unhovers nothing.
    m_lastHoveredIndex = CNNotFound;
}

void CNGridView::mouseDown(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        rightMouseDownAtLocation(gridPointFromWidget(event->position()));
        return;
    }
    // The left button selects nothing: the items' check boxes take their own clicks.
}

void CNGridView::mouseUp(QMouseEvent*) {}

void CNGridView::mouseDragged(QMouseEvent* event) {
    if (!m_allowsMultipleSelection || !m_allowsMultipleSelectionWithDrag) return;
    m_mouseHasDragged = true;
    if (m_abortSelection) return;
    drawSelectionFrameForMousePointerAtLocation(gridPointFromWidget(event->position()));
    if (m_selectionFrameView) {
        const QRect g = m_selectionFrameView->geometry();
        const kit::Point origin = gridPointFromWidget(g.topLeft());
        selectItemsCoveredBySelectionFrame(kit::MakeRect(origin.x, origin.y, g.width(), g.height()),
                                           ModifierFlags(event->modifiers()));
    }
}

void CNGridView::keyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) m_abortSelection = true;
    event->ignore();  // on to the superview
}

void CNGridView::rightMouseDownAtLocation(kit::Point point) {
    const int64_t index = indexForItemAtLocation(point);
    if (index == CNNotFound) {
        deselectAllItems();
        return;
    }
    CNIndexSet indexes;
    if (!m_selectedItems.count(index)) {
        indexes = {index};
        deselectAllItems();
        if (CNGridViewItemBase* item = visibleItemAtIndex(index)) selectItem(item);
    } else {
        indexes = selectedIndexes();
    }
    if (!m_itemContextMenu) return;
    const QPointF at = widgetPointFromGrid(point);
    m_itemContextMenu->popUpMenuPositioningItem(nullptr, kit::MakePoint(at.x(), at.y()), this);
    didActivateContextMenu(indexes);
}

// --- Rubber band and clicks ---

void CNGridView::drawSelectionFrameForMousePointerAtLocation(kit::Point p) {
    if (!m_selectionFrameView) {
        m_selectionFrameInitialPoint = p;
        m_selectionFrameView = new CNSelectionFrameView(kit::MakeRect(0, 0, 0, 0));
        addSubview(m_selectionFrameView);
        const QPointF at = widgetPointFromGrid(p);
        m_selectionFrameView->QWidget::setGeometry(int(std::lround(at.x())), int(std::lround(at.y())), 0, 0);
        return;
    }
    const kit::Rect clip = clippedRect();
    const double columnsWidth = double(columnsInGridView()) * kSide;
    const kit::Point start = m_selectionFrameInitialPoint;
    const double x = std::max(std::ceil(std::min(p.x, start.x)), clip.x());
    const double y = std::max(std::ceil(std::min(p.y, start.y)), clip.y());
    double width = p.x <= start.x ? start.x - x : p.x - start.x;
    if (x + width >= columnsWidth) width = columnsWidth - x - 1;
    double height = p.y <= start.y ? start.y - y : p.y - start.y;
    if (y + height > clip.y() + clip.height()) height = clip.y() + clip.height() - y;
    const QPointF at = widgetPointFromGrid(kit::MakePoint(x, y));
    m_selectionFrameView->QWidget::setGeometry(int(std::lround(at.x())), int(std::lround(at.y())),
                                               int(std::lround(std::max(width, 0.0))),
                                               int(std::lround(std::max(height, 0.0))));
    m_selectionFrameView->raise();
}

void CNGridView::selectItemsCoveredBySelectionFrame(const kit::Rect& r, uint64_t flags) {
    const uint64_t c = columnsInGridView();
    CNItemPoint topLeft = locationForItemAtIndex(boundIndexForItemAtLocation(r.origin));
    CNItemPoint bottomRight =
        locationForItemAtIndex(boundIndexForItemAtLocation(kit::MakePoint(r.x() + r.width(), r.y() + r.height())));
    for (const int64_t index : indexesForVisibleItems()) {
        const auto framed = m_selectedItemsBySelectionFrame.find(index);
        if (framed == m_selectedItemsBySelectionFrame.end()) continue;
        const CNItemPoint at = locationForItemAtIndex(index);
        const bool outside = at.row < topLeft.row || at.row > bottomRight.row || at.column < topLeft.column ||
                             at.column > bottomRight.column;
        if (!outside) continue;
        CNGridViewItemBase* item = framed->second;
        const auto recorded = m_selectedItems.find(index);
        if (recorded != m_selectedItems.end() && recorded->second == item) {
            item->setSelected(true);
        } else {
            item->setSelected(false);
            m_selectedItemsBySelectionFrame.erase(framed);
        }
    }
    const bool counts = r.width() > 0 && r.height() > 0;
    const uint64_t rows = allOverRowsInGridView();
    topLeft.column = std::min(topLeft.column, c);
    bottomRight.column = std::min(bottomRight.column, c);
    topLeft.row = std::min(topLeft.row, rows);
    bottomRight.row = std::min(bottomRight.row, rows);
    if (!counts) return;
    for (uint64_t row = topLeft.row; row <= bottomRight.row; ++row) {
        for (uint64_t column = topLeft.column; column <= bottomRight.column; ++column) {
            const int64_t index = int64_t((row - 1) * c + column - 1);
            CNGridViewItemBase* item = visibleItemAtIndex(index);
            if (!item) continue;
            m_selectedItemsBySelectionFrame[index] = item;
            if (!(flags & CNCommandKeyMask)) {
                item->setSelected(true);
            } else {
                const auto recorded = m_selectedItems.find(index);
                item->setSelected(!(recorded != m_selectedItems.end() && recorded->second == item));
            }
        }
    }
}

void CNGridView::handleSingleClickForItemAtIndex(int64_t index) {
    if (index != CNNotFound) didClick(index);
}

void CNGridView::handleDoubleClickForItemAtIndex(int64_t index) {
    if (index != CNNotFound) didDoubleClick(index);
}

void CNGridView::handleClicks() {
    std::vector<int64_t> at;
    for (const kit::Point& p : m_clickEvents) at.push_back(indexForItemAtLocation(p));
    m_clickEvents.clear();
    if (at.size() == 3) {
        const int64_t a = at[0], b = at[1], c = at[2];
        if (a == b && b == c) {
            handleDoubleClickForItemAtIndex(a);
        } else if (a == b) {
            handleDoubleClickForItemAtIndex(a);
            handleSingleClickForItemAtIndex(c);
        } else if (b == c) {
            handleSingleClickForItemAtIndex(a);
            handleDoubleClickForItemAtIndex(c);
        } else {
            handleSingleClickForItemAtIndex(a);
            handleSingleClickForItemAtIndex(b);
            handleSingleClickForItemAtIndex(c);
        }
    } else if (at.size() == 2) {
        if (at[0] == at[1]) {
            handleDoubleClickForItemAtIndex(at[0]);
        } else {
            handleSingleClickForItemAtIndex(at[0]);
            handleSingleClickForItemAtIndex(at[1]);
        }
    } else if (at.size() == 1) {
        handleSingleClickForItemAtIndex(at[0]);
    }
}
