// Pictures of the tree and list controls for review, kept as artefacts in
// build/artifacts/screenshots/controls: an outline drawn with the tree cells (ticked, unticked and
// partly ticked rows) under the flat header, the device outline with its three fills, and the attached
// pop-up window on each of its twelve sides. Each picture is probed where its colours are known.
#include <gtest/gtest.h>

#include <QDir>
#include <QPainter>
#include <memory>
#include <vector>

#include "../../ui/browser/DeviceRows.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "ui/browser/KXCustomOutlineView.h"
#include "ui/controls/CustomHeaderCell.h"
#include "ui/controls/MAAttachedWindow.h"
#include "ui/controls/NewButton.h"
#include "ui/kit/Image.h"
#include "ui/kit/OutlineView.h"
#include "ui/kit/TextField.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakePoint;
using kit::MakeRect;
using kit::MakeSize;

QString Save(const QImage& image, const QString& name) {
#ifdef BRELVOX_SCREENSHOT_DIR
    const QString folder = QStringLiteral(BRELVOX_SCREENSHOT_DIR);
#else
    const QString folder = QStringLiteral(BRELVOX_BINARY_DIR "/artifacts/screenshots/controls");
#endif
    EXPECT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/" + name + ".png";
    EXPECT_TRUE(image.save(path)) << path.toStdString();
    return path;
}

QColor At(const QImage& image, int x, int y) {
    const double ratio = image.devicePixelRatio();
    return QColor(image.pixel(int(x * ratio), int(y * ratio)));
}

// A small result tree of groups: a partly ticked folder with a ticked and an unticked file, a ticked
// folder, an unticked one.
class DemoTree : public kit::OutlineDataSource, public kit::OutlineDelegate, public NewButtonDelegate {
public:
    static constexpr int kFile = -1;
    DemoTree() {
        documents = group("Documents", 1, 2, {file("Quarterly report.doc", 2), file("notes.txt", 0)});
        pictures = group("Pictures", 2, 3, {file("holiday photo.jpg", 2)});
        music = group("Music", 0, 5, {});
        roots = {documents, pictures, music};
    }
    OpNodeData::Ptr file(const std::string& name, int state) {
        auto node = OpNodeData::NewGroup(OPNODE_TYPE_TREE, name, 0);
        node->setStateField(state);
        kinds[node.get()] = kFile;
        return node;
    }
    OpNodeData::Ptr group(const std::string& name, int state, int kind, std::vector<OpNodeData::Ptr> children) {
        auto node = OpNodeData::NewGroup(OPNODE_TYPE_TREE, name, 1);
        std::vector<OpNodeData::Child> list(children.begin(), children.end());
        node->setSubNode(std::move(list));
        node->setStateField(state);
        kinds[node.get()] = kind;
        return node;
    }
    static OpNodeData* of(kit::Item item) { return static_cast<OpNodeData*>(item); }
    static std::vector<OpNodeData*> childrenOf(OpNodeData* node) {
        std::vector<OpNodeData*> out;
        for (const auto& child : node->children()) out.push_back(std::get<OpNodeData::Ptr>(child).get());
        return out;
    }

    int numberOfChildrenOfItem(kit::OutlineView*, kit::Item item) override {
        return int(item ? childrenOf(of(item)).size() : roots.size());
    }
    kit::Item child(kit::OutlineView*, int index, kit::Item item) override {
        return item ? childrenOf(of(item))[size_t(index)] : roots[size_t(index)].get();
    }
    bool isItemExpandable(kit::OutlineView*, kit::Item item) override { return !of(item)->children().empty(); }
    QVariant objectValue(kit::OutlineView*, const kit::TableColumn& column, kit::Item item) override {
        if (column.identifier == "Size") return kinds[of(item)] == kFile ? QString("12 KB") : QString();
        return QString::fromStdString(of(item)->name());
    }
    void willDisplayCell(kit::OutlineView*, kit::Cell& cell, const kit::TableColumn& column, kit::Item item) override {
        if (column.identifier != "Name") return;
        cell.checkState = of(item)->state();
        cell.text = QString::fromStdString(of(item)->name());
        const int kind = kinds[of(item)];
        cell.image = (kind == kFile ? kit::Image::named("icon_file")
                                    : kit::Image::named(QString("%1IconImage").arg(kind)))
                         .pixmap();
        QFont font("Helvetica");
        font.setPixelSize(13);
        cell.font = font;
        cell.hasFont = true;
    }

    std::map<OpNodeData*, int> kinds;
    OpNodeData::Ptr documents, pictures, music;
    std::vector<OpNodeData::Ptr> roots;
};

TEST(ControlsScreenshots, AnOutlineOfTreeCellsUnderTheFlatHeader) {
    DemoTree tree;
    kit::Window window(MakeSize(420, 200));
    window.setBackgroundColor(Qt::white);
    auto* view = new kit::OutlineView(MakeRect(0, 0, 420, 200));
    auto cell = std::make_shared<NewButton>();
    cell->setDelegate(&tree);
    view->addTableColumn({"Name", "Name", 300, 10, 1000, false, cell});
    view->addTableColumn({"Size", "Size", 100});
    auto* header = new TableHeaderView;
    view->setHeaderView(header);
    header->setFixedHeight(20);
    header->setUpCustomHeaderCells();
    view->setDataSource(&tree);
    view->setDelegate(&tree);
    view->setRowHeight(20);
    window.contentView()->addSubview(view);
    view->reloadData();
    view->expandItem(tree.documents.get());
    view->expandItem(tree.pictures.get());
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    const QImage shot = window.grab().toImage();
    Save(shot, "tree-cells");

    // The header's background away from its titles; in the tick box of the ticked "Pictures" row its
    // blue fill (3 in, 10 down in the 14-point image), in that of the unticked "Music" row white.
    EXPECT_EQ(At(shot, 250, 10), kHeaderBackgroundColor) << uitest::Rgb(At(shot, 250, 10));
    const auto inBox = [&](OpNodeData* node, QPoint at) {
        const QRect rect = view->visualRect(view->adapter().indexForItem(node));
        const QRect box = NewButton::tickImageRectForBounds(rect, QSize(14, 14));
        const QPoint p = view->viewport()->mapTo(&window, box.topLeft() + at);
        return At(shot, p.x(), p.y());
    };
    const QColor ticked = inBox(tree.pictures.get(), QPoint(3, 10));
    EXPECT_GT(ticked.blue(), 200) << uitest::Rgb(ticked);
    EXPECT_LT(ticked.red(), 120) << uitest::Rgb(ticked);
    EXPECT_EQ(inBox(tree.music.get(), QPoint(7, 7)), QColor(Qt::white));
}

TEST(ControlsScreenshots, TheDeviceOutlineWithItsThreeFills) {
    browsertest::DeviceRows rows(
        {browsertest::DiskRow("USB Stick", {"INSIDE", "DATA"}), browsertest::DiskRow("Backup Disk", {"Archive"})});
    kit::Window window(MakeSize(360, 150));
    auto* view = new KXCustomOutlineView(MakeRect(0, 0, 360, 150));
    view->addTableColumn({"Name", "Name", 300});
    view->setDataSource(&rows);
    view->setRowHeight(24);
    view->setHeaderVisible(false);
    window.contentView()->addSubview(view);
    view->reloadData();
    for (const auto& d : rows.rows) view->expandItem(d.get());
    view->setIsRootArr({"0", "3"});
    view->setSelectCellBackgroundColorWithRow(1);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    const QImage shot = window.grab().toImage();
    Save(shot, "device-outline");
    const auto fill = [&](int row) {
        const QRect rect = view->visualRect(view->adapter().indexForItem(view->itemAtRow(row)));
        const QPoint p = view->viewport()->mapTo(&window, QPoint(340, rect.center().y()));
        return At(shot, p.x(), p.y());
    };
    EXPECT_EQ(fill(0), kDeviceDiskRowColor);
    EXPECT_EQ(fill(1), kDeviceSelectedRowColor);
    EXPECT_EQ(fill(2), kDeviceRowColor);
    EXPECT_EQ(fill(3), kDeviceDiskRowColor);
}

TEST(ControlsScreenshots, TheAttachedWindowOnEachSide) {
    // One cell of 260 x 170 per side, the point in its middle (a red cross), on grey.
    constexpr int kCellWidth = 260;
    constexpr int kCellHeight = 170;
    QImage sheet(4 * kCellWidth, 3 * kCellHeight, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(205, 208, 214));
    QPainter painter(&sheet);
    const kit::Point point = MakePoint(600, 400);
    for (int side = 0; side < 12; ++side) {
        auto* label = new kit::Label(MakeRect(0, 0, 110, 34), QString("side %1").arg(side));
        label->setTextAlignment(Qt::AlignHCenter);
        auto window = MAAttachedWindow::initWithView(label, point, nullptr, side, 6);
        ASSERT_NE(window, nullptr);
        window->setArrowBaseWidth(18);
        window->setArrowHeight(10);
        window->setBorderColor(QColor(160, 168, 180));
        window->setBorderWidth(1);
        window->orderFront();
        uitest::ProcessEvents();
        const QImage pop = uitest::Render(window.get());
        const kit::Rect frame = window->frame();
        const QPoint centre((side % 4) * kCellWidth + kCellWidth / 2, (side / 4) * kCellHeight + kCellHeight / 2);
        // Screen coordinates are y up: the window's top edge stands maxY - point.y above the point.
        const QPoint topLeft = centre + QPoint(int(frame.x() - point.x), int(point.y - frame.maxY()));
        painter.drawImage(topLeft, pop);
        painter.setPen(QPen(QColor(220, 0, 0), 1));
        painter.drawLine(centre - QPoint(4, 0), centre + QPoint(4, 0));
        painter.drawLine(centre - QPoint(0, 4), centre + QPoint(0, 4));
        // The panel is white in its middle, around the label.
        const QColor middle(pop.pixel(int(window->viewFrame().midX()), pop.height() - int(window->viewFrame().midY())));
        EXPECT_EQ(qAlpha(pop.pixel(pop.width() / 2, pop.height() / 2)), 255) << side;
        EXPECT_EQ(middle.red(), middle.green()) << side;
        window->orderOut();
    }
    painter.end();
    Save(sheet, "attached-windows");
}

}  // namespace
