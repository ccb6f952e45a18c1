// A result's path tree as an outline drawn with the tree button cell: the partition roots of the
// window's path array, their folders (the bridge's nodes, read in place under the result-tree lock)
// and, below each folder, the files the controller lists for it, each in a row node made around its
// engine node. A click on a tick box ticks the row's node (0 and 1 become 2, 2 becomes 0) and reloads
// the outline, as the result trees do.
#pragma once

#include <QString>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/UIController/IUIController.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/Utility/IFileNode.h"
#include "ui/controls/NewButton.h"
#include "ui/kit/Image.h"
#include "ui/kit/OutlineView.h"

namespace browsertest {

class PathTreeOutline : public kit::OutlineDataSource, public kit::OutlineDelegate, public NewButtonDelegate {
public:
    PathTreeOutline(IUIController& controller, const IUIController::TreeArray& roots)
        : m_controller(controller), m_roots(roots) {}

    static OpNodeData* of(kit::Item item) { return static_cast<OpNodeData*>(item); }
    // A file's row rather than a folder's.
    static bool isFileRow(const OpNodeData* node) { return node->fileNode() && !node->isDirect(); }

    // Adds the name column, drawn by cell, to view and shows the tree through this outline.
    void attach(kit::OutlineView* view, const std::shared_ptr<NewButton>& cell, double width) {
        m_view = view;
        cell->setDelegate(this);
        view->addTableColumn({"Name", "Name", width, 10, 100000, false, cell});
        view->setDataSource(this);
        view->setDelegate(this);
        view->reloadData();
    }

    int numberOfChildrenOfItem(kit::OutlineView*, kit::Item item) override {
        return int(item ? childrenOf(of(item)).size() : m_roots.size());
    }
    kit::Item child(kit::OutlineView*, int index, kit::Item item) override {
        return item ? childrenOf(of(item))[size_t(index)] : m_roots[size_t(index)].get();
    }
    bool isItemExpandable(kit::OutlineView*, kit::Item item) override {
        return !isFileRow(of(item)) && !childrenOf(of(item)).empty();
    }
    QVariant objectValue(kit::OutlineView*, const kit::TableColumn&, kit::Item item) override {
        return QString::fromStdString(of(item)->name());
    }
    void willDisplayCell(kit::OutlineView*, kit::Cell& cell, const kit::TableColumn&, kit::Item item) override {
        const OpNodeData* node = of(item);
        cell.checkState = node->state();
        cell.text = QString::fromStdString(node->name());
        const kit::Image icon = isFileRow(node) ? kit::Image::named("icon_file")
                                                : kit::Image::named(QString("%1IconImage").arg(node->nodeType()));
        cell.image = icon.pixmap();
    }
    void clickButtonAction(NewButton* sender) override {
        ++clicks;
        if (const OpNodeData::Ptr& node = sender->opNodeData()) node->setNodeState(node->state() == 2 ? 0 : 2);
        if (m_view) m_view->reloadData();
    }

    int clicks = 0;

private:
    const std::vector<OpNodeData*>& childrenOf(OpNodeData* node) {
        auto it = m_children.find(node);
        if (it != m_children.end()) return it->second;
        std::vector<OpNodeData*> rows;
        if (!isFileRow(node)) {
            SimpleLock hold(&g_lockerAddData);
            for (const OpNodeData::Child& child : node->children()) {
                if (const auto* folder = std::get_if<OpNodeData::Ptr>(&child); folder && *folder)
                    rows.push_back(folder->get());
            }
        }
        std::vector<IFileNode*> files;
        if (!isFileRow(node)) m_controller.GetFileNodeToArray(&files, node);
        for (IFileNode* file : files) {
            auto& row = m_fileRows[file];
            if (!row) row = std::make_shared<OpNodeData>(file);
            rows.push_back(row.get());
        }
        return m_children.emplace(node, std::move(rows)).first->second;
    }

    IUIController& m_controller;
    const IUIController::TreeArray& m_roots;
    kit::OutlineView* m_view = nullptr;
    std::map<OpNodeData*, std::vector<OpNodeData*>> m_children;
    std::map<IFileNode*, OpNodeData::Ptr> m_fileRows;
};

}  // namespace browsertest
