// The one adapter between AppKit-style data sources and Qt's model/view: a QAbstractItemModel that
// asks a source for children, values and per-row cell set-up, in columns with identifiers. Outline
// items are opaque pointers (null is the root) cached in a tree that reloadData drops; a flat
// source (a table) keeps no cache at all, its rows are asked for as they are shown. While a view
// paints, each cell is set up once and kept until the paint ends (Qt asks a cell for a value per role).
#pragma once

#include <QAbstractItemModel>
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>
#include <QVariant>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kit {

using Item = void*;
class ColumnCell;

// A column of a table or outline view.
struct TableColumn {
    QString identifier;
    QString title;
    double width = 100;
    double minWidth = 10;
    double maxWidth = 100000;
    // The column shows a tick box whose state (0, 1 partly, 2) is the column's object value.
    bool checkBox = false;
    // The column's own cell (AppKit's data cell): it draws the column's cells and may take their
    // clicks; none draws them as text, image or tick box.
    std::shared_ptr<ColumnCell> dataCell{};
};

// What one cell shows. The view fills it from the data source's object value; the delegate's
// willDisplayCell may change anything before it is drawn.
struct Cell {
    QVariant objectValue;  // what the data source gave
    QString text;
    QPixmap image;
    int checkState = -1;  // -1 no tick box, else 0, 1 (partly), 2
    QColor textColor;     // invalid: the style's
    QColor backgroundColor;
    QFont font;
    bool hasFont = false;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool enabled = true;
};

// What the adapter asks of the view that owns it.
class ItemSource {
public:
    virtual ~ItemSource() = default;
    virtual int childCount(Item parent) = 0;
    virtual Item child(int index, Item parent) = 0;
    virtual bool isExpandable(Item item) = 0;
    virtual QVariant objectValue(int column, Item item) = 0;
    virtual void setObjectValue(const QVariant& value, int column, Item item) = 0;
    virtual void setUpCell(Cell& cell, int column, Item item) = 0;
};

class ItemModelAdapter : public QAbstractItemModel {
public:
    ItemModelAdapter(ItemSource& source, bool flat, QObject* parent = nullptr);
    ~ItemModelAdapter() override;

    void setColumns(std::vector<TableColumn> columns);
    const std::vector<TableColumn>& columns() const { return m_columns; }
    int columnWithIdentifier(const QString& identifier) const;

    // Forgets every cached item and asks the source again.
    void reloadData();
    // Redraws item's row; with children also asks the source for its children again.
    void reloadItem(Item item, bool reloadChildren);

    Item itemForIndex(const QModelIndex& index) const;
    // The index of item in column 0 (items already met), invalid when unknown.
    QModelIndex indexForItem(Item item) const;
    // The cell a column shows for item, set up by the source.
    Cell cellFor(int column, Item item) const;
    // The cell of index: while a paint runs, set up once and then kept.
    Cell cell(const QModelIndex& index) const;
    // Gives value to the data source as the new object value of index (a tick, a cell's click) and
    // redraws what the views show.
    void setObjectValue(const QModelIndex& index, const QVariant& value);
    // Calls visit with the index (column 0) of under (unless it is the root) and of every item met
    // below it whose children were asked for, parents before their children.
    void visitFetched(Item under, const std::function<void(const QModelIndex&)>& visit) const;

    // Keeps each cell set up for the length of one paint of a view.
    class PaintScope {
    public:
        explicit PaintScope(const ItemModelAdapter& model);
        ~PaintScope();
        PaintScope(const PaintScope&) = delete;
        PaintScope& operator=(const PaintScope&) = delete;

    private:
        const ItemModelAdapter& m_model;
    };

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Node {
        Item item = nullptr;
        Node* parent = nullptr;
        int row = 0;
        bool fetched = false;
        std::vector<std::unique_ptr<Node>> children;
    };
    Node* nodeFor(const QModelIndex& index) const;
    void fetch(Node* node) const;
    void forget(Node* node) const;
    void visitNode(const Node* node, const std::function<void(const QModelIndex&)>& visit) const;

    ItemSource& m_source;
    bool m_flat;
    std::vector<TableColumn> m_columns;
    mutable Node m_root;
    mutable std::unordered_map<Item, Node*> m_byItem;
    mutable int m_painting = 0;
    mutable std::map<std::pair<Item, int>, Cell> m_paintCells;
};

}  // namespace kit
