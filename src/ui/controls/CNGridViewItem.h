// The cells of the thumbnail grid (CNGridView). CNGridViewItemBase carries what the grid's reuse pool
// and selection need (reuse identifier, index, represented object, selected and hovered flags) and
// follows the grid-wide select-all and deselect-all notifications. CNGridViewItem is the thumbnail
// tile: a rounded background, a selection ring, the image capped at 90 x 90, a title label and a
// check box that ticks the result node the item shows through its delegate. CNGridViewItemLayout is
// a set of drawing attributes. The item is flipped (origin top left) and framed 150 x 150 by the grid.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>

#include "ui/kit/Button.h"
#include "ui/kit/Image.h"
#include "ui/kit/TextField.h"
#include "ui/kit/View.h"

class OpNodeData;
class CNGridView;

// The platform's "no index".
inline constexpr int64_t CNNotFound = std::numeric_limits<int64_t>::max();
inline constexpr const char* kCNDefaultItemIdentifier = "CNGridViewItem";
inline constexpr const char* CNGridViewSelectAllItemsNotification = "CNGridViewSelectAllItems";
inline constexpr const char* CNGridViewDeSelectAllItemsNotification = "CNGridViewDeSelectAllItems";

// The colours the grid and its items draw with.
namespace CNGridViewPalette {
QColor itemBackgroundColor();           // black at alpha 0.05
QColor itemBackgroundHoverColor();      // black at alpha 0.3
QColor itemBackgroundSelectionColor();  // black at alpha 0.25
QColor itemSelectionRingColor();        // (0.346, 0.531, 0.792)
QColor itemTitleColor();                // (0.196, 0.2, 0.2)
QColor itemTitleShadowColor();          // white at alpha 0.8
QColor selectionFrameColor();           // grey
}  // namespace CNGridViewPalette

class CNGridViewItemLayout {
public:
    CNGridViewItemLayout();
    static std::shared_ptr<CNGridViewItemLayout> defaultLayout();

    int visibleContentMask = 3;
    QColor backgroundColor;
    QColor selectionRingColor;
    double selectionRingLineWidth = 3.0;
    uint64_t contentInset = 3;
    uint64_t itemBorderRadius = 5;
    // Title text attributes: font, shadow colour and offset, foreground, centred alignment.
    QFont titleFont;
    QColor titleShadowColor;
    QPointF titleShadowOffset{0, -1};
    QColor titleColor;
    Qt::Alignment titleAlignment = Qt::AlignHCenter;
};

class CNGridViewItemBase : public kit::View {
public:
    explicit CNGridViewItemBase(const kit::Rect& frame = {});
    ~CNGridViewItemBase() override;

    static kit::Size defaultItemSize() { return kit::MakeSize(150, 150); }

    bool isFlipped() const override { return true; }

    // Index NSNotFound, not selected, selectable, not hovered.
    virtual void prepareForReuse();
    // NO while selected.
    bool isReuseable() const { return !m_selected; }

    std::string reuseIdentifier() const;
    void setReuseIdentifier(const std::string& identifier);
    int64_t index() const { return m_index.load(); }
    void setIndex(int64_t index) { m_index.store(index); }
    const void* representedObject() const { return m_representedObject; }
    void setRepresentedObject(const void* object) { m_representedObject = object; }
    bool selected() const { return m_selected; }
    virtual void setSelected(bool selected) { m_selected = selected; }
    bool selectable() const { return m_selectable; }
    void setSelectable(bool selectable) { m_selectable = selectable; }
    bool hovered() const { return m_hovered; }
    virtual void setHovered(bool hovered) { m_hovered = hovered; }

    // The item's frame in the grid's coordinates (flipped, the full height of the grid), which may lie
    // far beyond what a Qt widget can be placed at: the grid shows the item at this frame less its
    // scroll offset.
    kit::Rect frame() const;
    void setFrame(const kit::Rect& frame);

private:
    void selectAll() { setSelected(true); }
    void deSelectAll() { setSelected(false); }

    bool m_selected = false;
    bool m_selectable = true;
    bool m_hovered = false;
    mutable std::mutex m_identifierMutex;
    std::string m_reuseIdentifier = kCNDefaultItemIdentifier;
    std::atomic<int64_t> m_index{CNNotFound};
    const void* m_representedObject = nullptr;
    kit::Rect m_gridFrame;
    bool m_inGrid = false;
    friend class CNGridView;
};

// Told of clicks on an item's check box.
class CNGridViewItemDelegate {
public:
    virtual ~CNGridViewItemDelegate() = default;
    virtual void doSelectItem(int64_t index) = 0;
};

// The 13 x 13 check box: draws its image stretched to its bounds, no border.
class CNGridItemCheckBox : public kit::Button {
public:
    explicit CNGridItemCheckBox(const kit::Rect& frame) : kit::Button(frame) {}
    void setImage(const kit::Image& image);
    const kit::Image& image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    kit::Image m_image;
};

class CNGridViewItem;

// Where a loader thread hands an item its thumbnail. It outlives the item (a loader keeps it as a
// shared pointer taken on the main thread), so an image that arrives after the grid let the item go
// reaches nothing.
class CNGridViewItemMailbox : public std::enable_shared_from_this<CNGridViewItemMailbox> {
public:
    // Any thread: when the item still shows node, the image reaches it on the main thread.
    void updateImageViewWithImage(const QImage& image, const OpNodeData* node);

private:
    friend class CNGridViewItem;
    std::atomic<const OpNodeData*> m_node{nullptr};
    CNGridViewItem* m_item = nullptr;  // read and written on the main thread only
};

class CNGridViewItem : public CNGridViewItemBase {
public:
    explicit CNGridViewItem(const kit::Rect& frame = kit::MakeRect(0, 0, 150, 150));
    // The layout argument is not kept.
    CNGridViewItem(const std::shared_ptr<CNGridViewItemLayout>& layout, const std::string& reuseIdentifier);
    ~CNGridViewItem() override;

    // The base's, then image cleared and title "".
    void prepareForReuse() override;
    // Stores the flag, then redraws.
    void setHovered(bool hovered) override;
    void setSelected(bool selected) override;
    void clearHovering() { setHovered(false); }
    void clearSelection() { setSelected(false); }
    void setDefaultLayout(const std::shared_ptr<CNGridViewItemLayout>&) {}

    // The check box's action: refused while a scan runs unpaused; else shows the state the click is
    // about to produce and tells the delegate.
    void setItemSelectBoxClickAction();

    // Called from a loader thread: when the item still shows node, the image is applied on the main
    // thread 0.01 s later (on the kit's scheduler), unless the item has shown another node meanwhile.
    void updateImageViewWithImage(const QImage& image, const OpNodeData* node) {
        m_mailbox->updateImageViewWithImage(image, node);
    }
    // The item's mailbox, for a loader that may outlive the item (main thread).
    std::shared_ptr<CNGridViewItemMailbox> mailbox() const { return m_mailbox; }
    // Applies image when both its sides are above 0 (main thread).
    void refImageWithImage(const QImage& image);

    CNGridViewItemDelegate* delegate() const { return m_delegate; }
    void setDelegate(CNGridViewItemDelegate* delegate) { m_delegate = delegate; }
    const QImage& itemImage() const { return m_itemImage; }
    void setItemImage(const QImage& image);
    CNGridItemCheckBox* itemButton() const { return m_itemButton; }
    kit::Label* titleLabel() const { return m_titleLabel; }
    QString itemTitle() const { return m_itemTitle; }
    void setItemTitle(const QString& title) { m_itemTitle = title; }
    const OpNodeData* node() const { return m_mailbox->m_node.load(); }
    void setNode(const OpNodeData* node) { m_mailbox->m_node.store(node); }
    std::shared_ptr<CNGridViewItemLayout> currentLayout() const { return m_currentLayout; }
    void setCurrentLayout(std::shared_ptr<CNGridViewItemLayout> layout) { m_currentLayout = std::move(layout); }
    bool useLayout() const { return m_useLayout; }
    void setUseLayout(bool use) { m_useLayout = use; }

    // The rectangle the image is drawn into (item coordinates, flipped), for an image of size.
    static kit::Rect imageRectForSize(kit::Size size, kit::Size bounds = defaultItemSize());

protected:
    void drawRect(QPainter& painter, const kit::Rect& dirty) override;

private:
    void setUpSubviews();

    bool m_useLayout = true;
    CNGridViewItemDelegate* m_delegate = nullptr;
    QImage m_itemImage;
    CNGridItemCheckBox* m_itemButton = nullptr;
    kit::Label* m_titleLabel = nullptr;
    QString m_itemTitle;
    std::shared_ptr<CNGridViewItemMailbox> m_mailbox = std::make_shared<CNGridViewItemMailbox>();
    std::shared_ptr<CNGridViewItemLayout> m_currentLayout;
};
