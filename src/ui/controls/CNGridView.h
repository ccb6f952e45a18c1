// The scrolling thumbnail grid: an ordered list of items (one section) in fixed 150 x 150 cells, filled
// row by row from the top left, item views kept only for the visible rows plus one, recycled through a
// reuse pool keyed by identifier; selection, hover, the rubber band, the context menu and the delegate
// calls, each preceded by its notification on the default centre.
//
// The grid is a virtual canvas. Its kit frame (frame()) has the full height of all rows, in flipped
// coordinates, but its Qt widget is only as large as the visible part: CNGridScrollView scrolls by
// moving the grid's clip origin and the grid places each item widget at the item's frame less that
// origin. So a grid may be taller than Qt's largest widget (16,777,215 pixels).
#pragma once

#include <QAbstractScrollArea>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ui/controls/CNGridViewItem.h"
#include "ui/kit/Menu.h"
#include "ui/kit/View.h"

class CNGridView;

inline constexpr double kCNGridCellSide = 150.0;

inline constexpr int CNSingleClick = 1;
inline constexpr int CNDoubleClick = 2;
inline constexpr int CNTrippleClick = 3;

inline constexpr const char* CNGridViewWillHoverItemNotification = "CNGridViewWillHoverItem";
inline constexpr const char* CNGridViewWillUnhoverItemNotification = "CNGridViewWillUnhoverItem";
inline constexpr const char* CNGridViewWillSelectItemNotification = "CNGridViewWillSelectItem";
inline constexpr const char* CNGridViewDidSelectItemNotification = "CNGridViewDidSelectItem";
inline constexpr const char* CNGridViewWillDeselectItemNotification = "CNGridViewWillDeselectItem";
inline constexpr const char* CNGridViewDidDeselectItemNotification = "CNGridViewDidDeselectItem";
inline constexpr const char* CNGridViewWillDeselectAllItemsNotification = "CNGridViewWillDeselectAllItems";
inline constexpr const char* CNGridViewDidDeselectAllItemsNotification = "CNGridViewDidDeselectAllItems";
inline constexpr const char* CNGridViewDidClickItemNotification = "CNGridViewDidClickItem";
inline constexpr const char* CNGridViewDidDoubleClickItemNotification = "CNGridViewDidDoubleClickItem";
inline constexpr const char* CNGridViewRightMouseButtonClickedOnItemNotification =
    "CNGridViewRightMouseButtonClickedOnItem";
inline constexpr const char* CNGridViewItemKey = "gridViewItem";
inline constexpr const char* CNGridViewItemIndexKey = "gridViewItemIndex";
inline constexpr const char* CNGridViewSelectedItemsKey = "CNGridViewSelectedItems";
inline constexpr const char* CNGridViewItemsIndexSetKey = "CNGridViewItemsIndexSetKey";

// Modifier flags of selectItemAtIndex (the event's modifier flags; Command is Control here).
inline constexpr uint64_t CNShiftKeyMask = 0x20000;
inline constexpr uint64_t CNCommandKeyMask = 0x100000;

using CNIndexSet = std::set<int64_t>;

// Column and row, both counted from 1.
struct CNItemPoint {
    uint64_t column = 0;
    uint64_t row = 0;
    bool operator==(const CNItemPoint&) const = default;
};
inline CNItemPoint CNMakeItemPoint(uint64_t column, uint64_t row) { return {column, row}; }

// The userInfo of the grid's notifications: an index, the selected items, or an index set.
struct CNGridViewNotificationInfo {
    int64_t index = CNNotFound;
    std::vector<CNGridViewItemBase*> items;
    CNIndexSet indexes;
};

class CNGridViewDataSource {
public:
    virtual ~CNGridViewDataSource() = default;
    virtual uint64_t gridViewNumberOfItemsInSection(CNGridView* grid, int64_t section) = 0;
    // The item view for index, or null (the cell stays empty until the next fill).
    virtual CNGridViewItemBase* gridViewItemAtIndex(CNGridView* grid, int64_t index, int64_t section) = 0;
};

// Every call optional (a default that does nothing).
class CNGridViewDelegate {
public:
    virtual ~CNGridViewDelegate() = default;
    virtual void gridViewWillHoverItemAtIndex(CNGridView*, uint64_t, uint64_t) {}
    virtual void gridViewWillUnhoverItemAtIndex(CNGridView*, uint64_t, uint64_t) {}
    virtual void gridViewWillSelectItemAtIndex(CNGridView*, uint64_t, uint64_t) {}
    virtual void gridViewDidSelectItemAtIndex(CNGridView*, uint64_t, uint64_t) {}
    virtual void gridViewWillDeselectItemAtIndex(CNGridView*, uint64_t, uint64_t) {}
    virtual void gridViewDidDeselectItemAtIndex(CNGridView*, uint64_t, uint64_t) {}
    virtual void gridViewWillDeselectAllItems(CNGridView*, const std::vector<CNGridViewItemBase*>&) {}
    virtual void gridViewDidDeselectAllItems(CNGridView*) {}
    virtual void gridViewDidClickItemAtIndex(CNGridView*, uint64_t, uint64_t) {}
    virtual void gridViewDidDoubleClickItemAtIndex(CNGridView*, uint64_t, uint64_t) {}
    virtual void gridViewDidActivateContextMenuWithIndexes(CNGridView*, const CNIndexSet&, uint64_t) {}
};

// The rubber band: black at alpha 0.15, a white outline of 1 point.
class CNSelectionFrameView : public kit::View {
public:
    explicit CNSelectionFrameView(const kit::Rect& frame);
    bool isFlipped() const override { return true; }

protected:
    void drawRect(QPainter& painter, const kit::Rect& dirty) override;
};

// The scroll view of a grid: its vertical scroll bar moves the grid's clip origin.
class CNGridScrollView : public kit::ViewBase<QAbstractScrollArea> {
public:
    explicit CNGridScrollView(const kit::Rect& frame = {});

    // Takes the grid (owned) as the scrolled view.
    void setDocumentView(CNGridView* grid);
    CNGridView* documentView() const { return m_grid; }
    void setHasVerticalScroller(bool on);
    // The visible part of the grid, in the grid's coordinates (the clip view's bounds).
    kit::Rect clipBounds() const;
    // Scrolls so that the grid's point y is at the top (clamped to the scrollable range).
    void scrollToY(double y);
    // Kept at the control colour whatever is asked (the grid's background setter).
    void setBackgroundColor(const QColor& color);
    QColor backgroundColor() const { return m_background; }
    // Elasticity 2 (allowed) on both axes.
    int verticalScrollElasticity() const { return m_elasticity; }
    void setScrollElasticity(int elasticity) { m_elasticity = elasticity; }

    // The grid's height changed: the scroll range follows it.
    void documentHeightChanged();

protected:
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeGrid();

    CNGridView* m_grid = nullptr;
    QColor m_background;
    int m_elasticity = 0;
};

class CNGridView : public kit::View {
public:
    explicit CNGridView(const kit::Rect& frame = {});
    ~CNGridView() override;

    bool isFlipped() const override { return true; }

    // --- The virtual frame ---
    // The grid's frame as AppKit keeps it: the full height of every row (see the file comment).
    kit::Rect frame() const { return m_virtualFrame; }
    // A frame change: refreshes the layout (a new width re-centres), then redraws after 0.3 s.
    void setFrame(const kit::Rect& frame);
    CNGridScrollView* enclosingScrollView() const { return m_scrollView; }
    // The clip view's bounds: the visible part of the grid in its coordinates.
    kit::Rect clippedRect() const;

    // --- Properties ---
    CNGridViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(CNGridViewDelegate* delegate) { m_delegate = delegate; }
    CNGridViewDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(CNGridViewDataSource* dataSource) { m_dataSource = dataSource; }
    QString gridViewTitle() const { return m_title; }
    void setGridViewTitle(const QString& title) { m_title = title; }
    kit::Menu* itemContextMenu() const { return m_itemContextMenu; }
    void setItemContextMenu(kit::Menu* menu) { m_itemContextMenu = menu; }
    bool useCenterAlignment() const { return m_useCenterAlignment; }
    void setUseCenterAlignment(bool on) { m_useCenterAlignment = on; }
    bool useHover() const { return m_useHover; }
    void setUseHover(bool on) { m_useHover = on; }
    bool useSelectionRing() const { return m_useSelectionRing; }
    void setUseSelectionRing(bool on) { m_useSelectionRing = on; }
    bool allowsSelection() const { return m_allowsSelection; }
    void setAllowsSelection(bool on) { m_allowsSelection = on; }
    bool allowsMultipleSelectionWithDrag() const { return m_allowsMultipleSelectionWithDrag; }
    void setAllowsMultipleSelectionWithDrag(bool on) { m_allowsMultipleSelectionWithDrag = on; }
    bool allowsMultipleSelection() const { return m_allowsMultipleSelection; }
    // Stores the flag; turning it off with a selection posts "CNGridViewDeSelectAllItems" and empties
    // the selection table (without the will/did deselect-all calls).
    void setAllowsMultipleSelection(bool on);
    // The fixed setters: the cell stays 150 x 150, the background the control colour, the elasticity
    // allowed, whatever is passed.
    kit::Size itemSize() const { return m_itemSize; }
    void setItemSize(kit::Size size);
    QColor backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const QColor& color);
    bool scrollElasticity() const { return m_scrollElasticity; }
    void setScrollElasticity(bool on);
    void beginUpdates() {}
    void endUpdates() {}
    double contentInset() const { return m_contentInset; }

    // --- Data ---
    uint64_t numberOfItems() const { return m_numberOfItems; }
    size_t numberOfVisibleItems() const { return m_keyedVisibleItems.size(); }
    CNIndexSet visibleIndexes() const;
    CNIndexSet indexesForVisibleItems() const;
    // The visible item of index, or null.
    CNGridViewItemBase* visibleItemAtIndex(int64_t index) const;
    // How many item views the reuse pool holds (all identifiers).
    size_t reusePoolCount() const;
    // Every item view the grid has (visible and pooled).
    size_t itemViewCount() const { return m_allItems.size(); }

    CNGridViewItemBase* dequeueReusableItemWithIdentifier(const std::string& identifier);
    void reloadData() { reloadDataAnimated(false); }
    void reloadDataAnimated(bool animated);
    void insertItemAtIndex(int64_t index, bool animated);
    void insertItemsAtIndexes(const CNIndexSet& indexes, bool animated);
    void removeItemsAtIndexes(const CNIndexSet& indexes, bool animated);
    void reloadItemsAtIndexes(const CNIndexSet& indexes, bool animated);

    // --- Geometry (the grid's flipped coordinates) ---
    uint64_t columnsInGridView() const;
    uint64_t visibleRowsInGridView() const;
    uint64_t allOverRowsInGridView() const;
    kit::Rect rectForItemAtIndex(int64_t index) const;
    CNItemPoint locationForItemAtIndex(int64_t index) const;
    // The index of the item under point (grid coordinates), or CNNotFound.
    int64_t indexForItemAtLocation(kit::Point point) const;
    // The cell under point without inset and without a bound on the item count (the rubber band's).
    int64_t boundIndexForItemAtLocation(kit::Point point) const;
    // Start and length.
    std::pair<int64_t, int64_t> visibleItemRange() const;
    // A point of the grid's Qt widget (the visible part) in the grid's coordinates, and back.
    kit::Point gridPointFromWidget(const QPointF& p) const;
    QPointF widgetPointFromGrid(kit::Point p) const;

    // --- Selection ---
    void selectItem(CNGridViewItemBase* item);
    void deSelectItem(CNGridViewItemBase* item);
    void selectAllItems();
    void deselectAllItems();
    std::vector<CNGridViewItemBase*> selectedItems() const;
    CNIndexSet selectedIndexes() const;
    void selectItemAtIndex(int64_t index, uint64_t modifierFlags);
    int64_t lastHoveredIndex() const { return m_lastHoveredIndex; }
    void hoverItemAtIndex(int64_t index);
    void unHoverItemAtIndex(int64_t index);
    // Rubber band, Escape and collected clicks.
    CNSelectionFrameView* selectionFrameView() const { return m_selectionFrameView; }
    bool abortSelection() const { return m_abortSelection; }
    void drawSelectionFrameForMousePointerAtLocation(kit::Point point);
    void selectItemsCoveredBySelectionFrame(const kit::Rect& frame, uint64_t modifierFlags);
    // Collects a click at a point of the grid for handleClicks.
    void addClickEvent(kit::Point point) { m_clickEvents.push_back(point); }
    void handleClicks();
    void handleSingleClickForItemAtIndex(int64_t index);
    void handleDoubleClickForItemAtIndex(int64_t index);
    // The right click's selection and menu, at a point of the grid.
    void rightMouseDownAtLocation(kit::Point point);

    // The bounds-change handler of the clip view (on every scroll).
    void updateVisibleRect();
    // Places an item widget at its frame less the clip origin.
    void placeItem(CNGridViewItemBase* item);

protected:
    void drawRect(QPainter& painter, const kit::Rect& dirty) override;
    void mouseDown(QMouseEvent* event) override;
    void mouseUp(QMouseEvent* event) override;
    void mouseDragged(QMouseEvent* event) override;
    void mouseMoved(QMouseEvent* event) override;
    void mouseExited(QEvent* event) override;
    void keyDown(QKeyEvent* event) override;

private:
    friend class CNGridScrollView;
    void refreshInset();
    void refreshGridViewAnimated(bool animated, bool initialCall);
    void setVirtualFrameSize(kit::Size size);
    void updateReuseableItems();
    void updateVisibleItems();
    void arrangeGridViewItemsAnimated(bool animated);
    void moveItem(CNGridViewItemBase* item, const kit::Rect& to, double seconds);
    void enqueueForReuse(CNGridViewItemBase* item);
    void removeItemView(CNGridViewItemBase* item);
    void dropItemView(CNGridViewItemBase* item);
    uint64_t dataSourceCount();
    void post(const char* name, CNGridViewNotificationInfo info, bool withInfo = true);
    // The delegate calls, each after its notification.
    void willHover(int64_t index);
    void willUnhover(int64_t index);
    void willSelect(int64_t index);
    void didSelect(int64_t index);
    void willDeselect(int64_t index);
    void didDeselect(int64_t index);
    void didClick(int64_t index);
    void didDoubleClick(int64_t index);
    void didActivateContextMenu(const CNIndexSet& indexes);

    kit::Rect m_virtualFrame;
    CNGridScrollView* m_scrollView = nullptr;
    std::map<int64_t, CNGridViewItemBase*> m_keyedVisibleItems;
    std::map<std::string, std::vector<CNGridViewItemBase*>> m_reuseableItems;
    std::map<int64_t, CNGridViewItemBase*> m_selectedItems;
    std::map<int64_t, CNGridViewItemBase*> m_selectedItemsBySelectionFrame;
    std::set<CNGridViewItemBase*> m_allItems;
    CNSelectionFrameView* m_selectionFrameView = nullptr;
    std::vector<kit::Point> m_clickEvents;
    int64_t m_lastHoveredIndex = CNNotFound;
    int64_t m_lastSelectedItemIndex = CNNotFound;
    uint64_t m_numberOfItems = 0;
    kit::Point m_selectionFrameInitialPoint;
    bool m_isInitialCall = true;
    bool m_mouseHasDragged = false;
    bool m_abortSelection = false;
    double m_contentInset = 0.0;
    bool m_scrollElasticity = false;
    bool m_allowsSelection = false;
    bool m_allowsMultipleSelection = false;
    bool m_allowsMultipleSelectionWithDrag = false;
    bool m_useSelectionRing = true;
    bool m_useHover = true;
    bool m_useCenterAlignment = false;
    CNGridViewDelegate* m_delegate = nullptr;
    CNGridViewDataSource* m_dataSource = nullptr;
    QString m_title;
    QColor m_backgroundColor;
    kit::Menu* m_itemContextMenu = nullptr;
    kit::Size m_itemSize;
    std::map<CNGridViewItemBase*, std::shared_ptr<kit::Animation>> m_moves;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
