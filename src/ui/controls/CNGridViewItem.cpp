#include "ui/controls/CNGridViewItem.h"

#include <QPainterPath>
#include <QCoreApplication>
#include <QStylePainter>
#include <algorithm>

#include "bridge/ResultTree/OpNodeData.h"
#include "bridge/UIController/IUIController.h"
#include "platform/foundation/NotificationCenter.h"
#include "ui/controls/CNGridView.h"
#include "ui/kit/Scheduler.h"

using brelvox::foundation::NotificationCenter;

namespace {

constexpr double kTileInset = 5.0;
constexpr double kTileRadius = 10.0;
constexpr double kLargestImageSide = 90.0;
constexpr double kImageDelay = 0.01;

QColor White(double white, double alpha) {
    const int v = int(std::lround(white * 255));
    return QColor(v, v, v, int(std::lround(alpha * 255)));
}

QColor Rgb(double r, double g, double b) {
    return QColor(int(std::lround(r * 255)), int(std::lround(g * 255)), int(std::lround(b * 255)));
}

}  // namespace

namespace CNGridViewPalette {
QColor itemBackgroundColor() { return White(0.0, 0.05); }
QColor itemBackgroundHoverColor() { return White(0.0, 0.3); }
QColor itemBackgroundSelectionColor() { return White(0.0, 0.25); }
QColor itemSelectionRingColor() { return Rgb(0.346, 0.531, 0.792); }
QColor itemTitleColor() { return Rgb(0.196, 0.2, 0.2); }
QColor itemTitleShadowColor() { return White(1.0, 0.8); }
QColor selectionFrameColor() { return QColor(128, 128, 128); }
}  // namespace CNGridViewPalette

// --- CNGridViewItemLayout ---

CNGridViewItemLayout::CNGridViewItemLayout()
    : backgroundColor(CNGridViewPalette::itemBackgroundColor()),
      selectionRingColor(CNGridViewPalette::itemSelectionRingColor()),
      titleFont(QStringLiteral("Helvetica")),
      titleShadowColor(CNGridViewPalette::itemTitleShadowColor()),
      titleColor(CNGridViewPalette::itemTitleColor()) {
    titleFont.setPixelSize(12);
}

std::shared_ptr<CNGridViewItemLayout> CNGridViewItemLayout::defaultLayout() {
    return std::make_shared<CNGridViewItemLayout>();
}

// --- CNGridViewItemBase ---

CNGridViewItemBase::CNGridViewItemBase(const kit::Rect& frame) : kit::View(frame) {
    // Pointer moves reach the item (and its subviews that track them), which leaves them to the grid's
    // hover: Qt drops a move over a widget that does not track the pointer instead of passing it up.
    setMouseTracking(true);
    NotificationCenter& centre = NotificationCenter::Default();
    centre.AddObserver(this, CNGridViewSelectAllItemsNotification, nullptr, [this](const auto&) { selectAll(); });
    centre.AddObserver(this, CNGridViewDeSelectAllItemsNotification, nullptr, [this](const auto&) { deSelectAll(); });
}

CNGridViewItemBase::~CNGridViewItemBase() { NotificationCenter::Default().RemoveObserver(this); }

void CNGridViewItemBase::prepareForReuse() {
    setIndex(CNNotFound);
    setSelected(false);
    m_selectable = true;
    setHovered(false);
}

std::string CNGridViewItemBase::reuseIdentifier() const {
    std::lock_guard<std::mutex> lock(m_identifierMutex);
    return m_reuseIdentifier;
}

void CNGridViewItemBase::setReuseIdentifier(const std::string& identifier) {
    std::lock_guard<std::mutex> lock(m_identifierMutex);
    m_reuseIdentifier = identifier;
}

kit::Rect CNGridViewItemBase::frame() const { return m_inGrid ? m_gridFrame : kit::View::frame(); }

void CNGridViewItemBase::setFrame(const kit::Rect& frame) {
    if (auto* grid = m_inGrid ? dynamic_cast<CNGridView*>(parentWidget()) : nullptr) {
        m_gridFrame = frame;
        grid->placeItem(this);
        return;
    }
    kit::View::setFrame(frame);
}

// --- CNGridItemCheckBox ---

void CNGridItemCheckBox::setImage(const kit::Image& image) {
    m_image = image;
    update();
}

void CNGridItemCheckBox::paintEvent(QPaintEvent*) {
    if (m_image.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Scaled on both axes independently to the button.
    m_image.draw(painter, QRectF(rect()));
}

// --- CNGridViewItem ---

CNGridViewItem::CNGridViewItem(const kit::Rect& frame) : CNGridViewItemBase(frame) {
    m_mailbox->m_item = this;
    setUpSubviews();
}

CNGridViewItem::~CNGridViewItem() {
    kit::Scheduler::current().cancelPreviousPerformRequests(this);
    m_mailbox->m_item = nullptr;
}

CNGridViewItem::CNGridViewItem(const std::shared_ptr<CNGridViewItemLayout>&, const std::string& reuseIdentifier)
    : CNGridViewItem() {
    setReuseIdentifier(reuseIdentifier);
}

void CNGridViewItem::setUpSubviews() {
    m_itemButton = new CNGridItemCheckBox(kit::MakeRect(16, 121, 13, 13));
    m_itemButton->setMouseTracking(true);
    m_itemButton->setBordered(false);
    m_itemButton->setFocusPolicy(Qt::NoFocus);
    m_itemButton->setAction([this] { setItemSelectBoxClickAction(); });
    addSubview(m_itemButton);
    m_titleLabel = new kit::Label(kit::MakeRect(30, 120, 120, 25));
    QFont font = m_titleLabel->font();
    font.setPixelSize(11);
    m_titleLabel->setFont(font);
    // Left transparent: a label in the control colour would cut a lighter band out of the tile it
    // stands on, where it is meant to match the grid's background.
    m_titleLabel->setTextAlignment(Qt::AlignLeft);
    m_titleLabel->setTextFormat(Qt::PlainText);
    m_titleLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    addSubview(m_titleLabel);
    m_useLayout = true;
}

void CNGridViewItem::prepareForReuse() {
    CNGridViewItemBase::prepareForReuse();
    m_itemImage = QImage();
    m_itemTitle.clear();
}

void CNGridViewItem::setHovered(bool hovered) {
    CNGridViewItemBase::setHovered(hovered);
    update();
}

void CNGridViewItem::setSelected(bool selected) {
    CNGridViewItemBase::setSelected(selected);
    update();
}

void CNGridViewItem::setItemImage(const QImage& image) {
    m_itemImage = image;
    update();
}

void CNGridViewItem::setItemSelectBoxClickAction() {
    IUIController* controller = GetUIController();
    if (controller && controller->IsScanRunning() && !controller->IsPause()) return;
    const OpNodeData* node = this->node();
    const int state = node ? node->state() : 0;
    // The image shows the state the click is about to produce.
    m_itemButton->setImage(state > 0 ? kit::Image::named("checkbox_no") : kit::Image::named("checkbox_yes"));
    if (m_delegate) m_delegate->doSelectItem(index());
}

void CNGridViewItemMailbox::updateImageViewWithImage(const QImage& image, const OpNodeData* node) {
    if (m_node.load() != node) return;
    // From the loader's thread onto the main thread; there, after a short pause, the image is applied
    // if the item still exists and still shows the same node.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [box = std::shared_ptr<CNGridViewItemMailbox>(shared_from_this()), image, node] {
            if (!box->m_item || box->m_node.load() != node) return;
            kit::Scheduler::current().performAfterDelay(box->m_item, kImageDelay, [box, image, node] {
                if (box->m_item && box->m_node.load() == node) box->m_item->refImageWithImage(image);
            });
        },
        Qt::QueuedConnection);
}

void CNGridViewItem::refImageWithImage(const QImage& image) {
    if (image.width() <= 0 || image.height() <= 0) return;
    setItemImage(image);
}

kit::Rect CNGridViewItem::imageRectForSize(kit::Size size, kit::Size bounds) {
    const double width = std::min(size.width, kLargestImageSide);
    const double height = std::min(size.height, kLargestImageSide);
    const double tileWidth = bounds.width - 2 * kTileInset;
    const double tileHeight = bounds.height - 2 * kTileInset;
    return kit::MakeRect((tileWidth - width) / 2 + kTileInset, (tileHeight - height) / 2 - kTileInset, width, height);
}

void CNGridViewItem::drawRect(QPainter& painter, const kit::Rect&) {
    painter.setRenderHint(QPainter::Antialiasing);
    const kit::Rect b = bounds();
    const QRectF tile(kTileInset, kTileInset, b.width() - 2 * kTileInset, b.height() - 2 * kTileInset);
    QPainterPath path;
    path.addRoundedRect(tile, kTileRadius, kTileRadius);
    painter.fillPath(path, hovered() ? CNGridViewPalette::itemBackgroundHoverColor()
                                     : CNGridViewPalette::itemBackgroundColor());
    if (selected()) {
        // Without a layout of its own the item rings with the default layout's colour and width.
        const std::shared_ptr<CNGridViewItemLayout> layout =
            m_currentLayout ? m_currentLayout : CNGridViewItemLayout::defaultLayout();
        painter.setPen(QPen(layout->selectionRingColor, layout->selectionRingLineWidth));
        painter.drawPath(path);
    }
    if (m_itemImage.isNull()) return;
    const kit::Rect r = imageRectForSize(kit::MakeSize(m_itemImage.width(), m_itemImage.height()), b.size);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(QRectF(r.x(), r.y(), r.width(), r.height()), m_itemImage);
}
