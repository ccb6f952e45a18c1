#include "ui/kit/ItemModelAdapter.h"

namespace kit {

ItemModelAdapter::ItemModelAdapter(ItemSource& source, bool flat, QObject* parent)
    : QAbstractItemModel(parent), m_source(source), m_flat(flat) {}

ItemModelAdapter::~ItemModelAdapter() = default;

void ItemModelAdapter::setColumns(std::vector<TableColumn> columns) {
    m_paintCells.clear();
    beginResetModel();
    m_columns = std::move(columns);
    forget(&m_root);
    endResetModel();
}

int ItemModelAdapter::columnWithIdentifier(const QString& identifier) const {
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].identifier == identifier) return int(i);
    }
    return -1;
}

void ItemModelAdapter::forget(Node* node) const {
    for (auto& child : node->children) {
        forget(child.get());
        m_byItem.erase(child->item);
    }
    node->children.clear();
    node->fetched = false;
}

void ItemModelAdapter::reloadData() {
    m_paintCells.clear();
    beginResetModel();
    forget(&m_root);
    m_byItem.clear();
    endResetModel();
}

void ItemModelAdapter::fetch(Node* node) const {
    if (node->fetched) return;
    node->fetched = true;
    const int count = std::max(0, m_source.childCount(node->item));
    node->children.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        auto child = std::make_unique<Node>();
        child->item = m_source.child(i, node->item);
        child->parent = node;
        child->row = i;
        m_byItem[child->item] = child.get();
        node->children.push_back(std::move(child));
    }
}

void ItemModelAdapter::reloadItem(Item item, bool reloadChildren) {
    if (!item) {
        reloadData();
        return;
    }
    const QModelIndex first = indexForItem(item);
    if (!first.isValid() || m_columns.empty()) return;  // an item not shown yet
    m_paintCells.clear();
    emit dataChanged(first, first.siblingAtColumn(int(m_columns.size()) - 1));
    if (!reloadChildren || m_flat) return;
    Node* node = nodeFor(first);
    if (!node->fetched) return;
    if (!node->children.empty()) {
        beginRemoveRows(first, 0, int(node->children.size()) - 1);
        forget(node);
        endRemoveRows();
    }
    node->fetched = false;
    const int count = std::max(0, m_source.childCount(item));
    if (count > 0) {
        beginInsertRows(first, 0, count - 1);
        fetch(node);
        endInsertRows();
    } else {
        node->fetched = true;
    }
}

ItemModelAdapter::Node* ItemModelAdapter::nodeFor(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : &m_root;
}

Item ItemModelAdapter::itemForIndex(const QModelIndex& index) const {
    if (!index.isValid()) return nullptr;
    if (m_flat) return m_source.child(index.row(), nullptr);
    return nodeFor(index)->item;
}

QModelIndex ItemModelAdapter::indexForItem(Item item) const {
    if (!item) return {};
    if (m_flat) {
        const int rows = rowCount();
        for (int row = 0; row < rows; ++row) {
            if (m_source.child(row, nullptr) == item) return index(row, 0);
        }
        return {};
    }
    const auto it = m_byItem.find(item);
    if (it == m_byItem.end()) return {};
    return createIndex(it->second->row, 0, it->second);
}

Cell ItemModelAdapter::cellFor(int column, Item item) const {
    Cell cell;
    if (column < 0 || column >= int(m_columns.size())) return cell;
    const QVariant value = m_source.objectValue(column, item);
    cell.objectValue = value;
    if (m_columns[size_t(column)].checkBox) {
        cell.checkState = value.toInt();
    } else if (value.canConvert<QPixmap>() && value.typeId() == QMetaType::QPixmap) {
        cell.image = value.value<QPixmap>();
    } else {
        cell.text = value.toString();
    }
    m_source.setUpCell(cell, column, item);
    return cell;
}

Cell ItemModelAdapter::cell(const QModelIndex& index) const {
    if (!index.isValid()) return {};
    const Item item = itemForIndex(index);
    if (m_painting == 0) return cellFor(index.column(), item);
    const auto key = std::make_pair(item, index.column());
    const auto it = m_paintCells.find(key);
    if (it != m_paintCells.end()) return it->second;
    return m_paintCells.emplace(key, cellFor(index.column(), item)).first->second;
}

ItemModelAdapter::PaintScope::PaintScope(const ItemModelAdapter& model) : m_model(model) { ++m_model.m_painting; }

ItemModelAdapter::PaintScope::~PaintScope() {
    if (--m_model.m_painting == 0) m_model.m_paintCells.clear();
}

void ItemModelAdapter::visitFetched(Item under, const std::function<void(const QModelIndex&)>& visit) const {
    if (m_flat) return;
    const Node* node = &m_root;
    if (under) {
        const auto it = m_byItem.find(under);
        if (it == m_byItem.end()) return;
        node = it->second;
    }
    visitNode(node, visit);
}

void ItemModelAdapter::visitNode(const Node* node, const std::function<void(const QModelIndex&)>& visit) const {
    if (node != &m_root) visit(createIndex(node->row, 0, const_cast<Node*>(node)));
    if (!node->fetched) return;
    for (const auto& child : node->children) visitNode(child.get(), visit);
}

QModelIndex ItemModelAdapter::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= columnCount(parent)) return {};
    if (m_flat) {
        if (parent.isValid() || row >= rowCount()) return {};
        return createIndex(row, column, nullptr);
    }
    Node* node = nodeFor(parent);
    fetch(node);
    if (row >= int(node->children.size())) return {};
    return createIndex(row, column, node->children[size_t(row)].get());
}

QModelIndex ItemModelAdapter::parent(const QModelIndex& child) const {
    if (m_flat || !child.isValid()) return {};
    Node* parent = nodeFor(child)->parent;
    if (!parent || parent == &m_root) return {};
    return createIndex(parent->row, 0, parent);
}

int ItemModelAdapter::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    if (m_flat) return parent.isValid() ? 0 : std::max(0, m_source.childCount(nullptr));
    Node* node = nodeFor(parent);
    fetch(node);
    return int(node->children.size());
}

int ItemModelAdapter::columnCount(const QModelIndex&) const { return int(m_columns.size()); }

bool ItemModelAdapter::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid()) return rowCount(parent) > 0;
    if (m_flat || parent.column() > 0) return false;
    // Children are asked for only when the item is expanded.
    return m_source.isExpandable(nodeFor(parent)->item);
}

QVariant ItemModelAdapter::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::DecorationRole:
        case Qt::CheckStateRole:
        case Qt::ForegroundRole:
        case Qt::BackgroundRole:
        case Qt::FontRole:
        case Qt::TextAlignmentRole: break;
        default: return {};
    }
    const Cell cell = this->cell(index);
    switch (role) {
        case Qt::DisplayRole: return cell.text.isEmpty() ? QVariant() : QVariant(cell.text);
        case Qt::DecorationRole: return cell.image.isNull() ? QVariant() : QVariant(cell.image);
        case Qt::CheckStateRole:
            if (cell.checkState < 0) return {};
            return cell.checkState == 0 ? Qt::Unchecked : cell.checkState == 1 ? Qt::PartiallyChecked : Qt::Checked;
        case Qt::ForegroundRole: return cell.textColor.isValid() ? QVariant(cell.textColor) : QVariant();
        case Qt::BackgroundRole: return cell.backgroundColor.isValid() ? QVariant(cell.backgroundColor) : QVariant();
        case Qt::FontRole: return cell.hasFont ? QVariant(cell.font) : QVariant();
        case Qt::TextAlignmentRole: return QVariant(int(cell.alignment));
        default: return {};
    }
}

bool ItemModelAdapter::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole) return false;
    const auto state = Qt::CheckState(value.toInt());
    setObjectValue(index, state == Qt::Unchecked ? 0 : state == Qt::PartiallyChecked ? 1 : 2);
    return true;
}

void ItemModelAdapter::setObjectValue(const QModelIndex& index, const QVariant& value) {
    if (!index.isValid() || index.model() != this) return;
    m_source.setObjectValue(value, index.column(), itemForIndex(index));
    m_paintCells.clear();
    // The source may change other rows' states too (a folder's children): a change over more than
    // one index makes the views redraw all they show.
    const int rows = rowCount();
    if (rows > 0) emit dataChanged(this->index(0, 0), this->index(rows - 1, columnCount() - 1));
}

Qt::ItemFlags ItemModelAdapter::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_columns[size_t(index.column())].checkBox) flags |= Qt::ItemIsUserCheckable;
    if (m_flat) flags |= Qt::ItemNeverHasChildren;
    return flags;
}

QVariant ItemModelAdapter::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= int(m_columns.size())) return {};
    if (role == Qt::DisplayRole) return m_columns[size_t(section)].title;
    return {};
}

}  // namespace kit
