// Shared by the result-tree array suites: the window's four arrays handed to the controller for a
// scope, and the trees read back as text.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <variant>
#include <vector>

#include "bridge/Controller/KXUIController.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/Utility/IFileNode.h"

namespace trees_test {

using TreeArray = KXUIController::TreeArray;

// The four arrays of a result window, handed over while it lives (declare it after the window side,
// so that it is taken back before the window side goes).
struct WindowArrays {
    WindowArrays() {
        const KXUIController::TreeArrays all = {{KXUIController::kKeyNodePath, &path},
                                                {KXUIController::kKeyNodeType, &type},
                                                {KXUIController::kKeyNodeCreateTime, &created},
                                                {KXUIController::kKeyNodeModifyTime, &modified}};
        EXPECT_TRUE(KXUIController::KXSetTreeNodeData(&all));
    }
    ~WindowArrays() {
        const KXUIController::TreeArrays none;
        KXUIController::KXSetTreeNodeData(&none);
    }
    WindowArrays(const WindowArrays&) = delete;
    WindowArrays& operator=(const WindowArrays&) = delete;

    TreeArray path, type, created, modified;
};

// A tree as "name(child,child...)", engine files by name; folders of the path tree by name.
inline std::string Outline(const OpNodeData& node) {
    std::string out = node.name();
    if (node.children().empty()) return out;
    out += "(";
    bool first = true;
    for (const auto& child : node.children()) {
        if (!first) out += ",";
        first = false;
        if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child))
            out += *sub ? Outline(**sub) : "<null>";
        else
            out += std::get<IFileNode*>(child)->GetFileName();
    }
    return out + ")";
}

inline std::string Outline(const TreeArray& array) {
    SimpleLock hold(&g_lockerAddData);
    std::string out;
    for (const auto& node : array) out += (out.empty() ? "" : " ") + Outline(*node);
    return out;
}

// Every path-tree folder below the nodes as "a/b/c" (the roots' names left out).
inline void FolderPaths(const OpNodeData& node, const std::string& prefix, std::set<std::string>& out) {
    for (const auto& child : node.children()) {
        const auto* sub = std::get_if<OpNodeData::Ptr>(&child);
        if (!sub || !*sub) continue;
        const std::string path = prefix.empty() ? (*sub)->name() : prefix + "/" + (*sub)->name();
        out.insert(path);
        FolderPaths(**sub, path, out);
    }
}

// The files listed by every folder of the path tree, as paths below the root.
inline void ListedFiles(OpNodeData& node, const std::string& prefix, std::multiset<std::string>& out) {
    std::vector<IFileNode*> files;
    KXUIController::GetFileNodeToArray(&files, &node);
    for (IFileNode* file : files) out.insert(prefix.empty() ? file->GetFileName() : prefix + "/" + file->GetFileName());
    for (const auto& child : node.children()) {
        const auto* sub = std::get_if<OpNodeData::Ptr>(&child);
        if (!sub || !*sub) continue;
        ListedFiles(**sub, prefix.empty() ? (*sub)->name() : prefix + "/" + (*sub)->name(), out);
    }
}

// Every engine file held below a node (type and date trees), counted once per place.
inline void HeldFiles(const OpNodeData& node, std::multiset<IFileNode*>& out) {
    for (const auto& child : node.children()) {
        if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child))
            HeldFiles(**sub, out);
        else
            out.insert(std::get<IFileNode*>(child));
    }
}

inline std::multiset<IFileNode*> HeldFiles(const TreeArray& array) {
    SimpleLock hold(&g_lockerAddData);
    std::multiset<IFileNode*> out;
    for (const auto& node : array) HeldFiles(*node, out);
    return out;
}

}  // namespace trees_test
