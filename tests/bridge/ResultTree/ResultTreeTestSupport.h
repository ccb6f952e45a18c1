// Shared by the result-tree tests: the fake controller installed for the test, helpers to read a
// tree back as text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "bridge/ResultTree/OpNodeData.h"
#include "support/FakeFileTree.h"
#include "support/FakeUIController.h"

namespace result_tree_test {

// A test with the fake controller as the process's controller.
class WithController : public testing::Test {
protected:
    testsupport::FakeUIController ui;
    testsupport::ScopedUIController installed{&ui};
};

// A child entry as text: a node by its name, an engine node by its file name.
inline std::string ChildText(const OpNodeData::Child& child) {
    if (const auto* node = std::get_if<OpNodeData::Ptr>(&child)) return *node ? (*node)->name() : "<null>";
    IFileNode* file = std::get<IFileNode*>(child);
    return file ? file->GetFileName() : "<null file>";
}

// The children of a node as texts, in order.
inline std::vector<std::string> ChildTexts(const OpNodeData& node) {
    std::vector<std::string> out;
    for (const auto& child : node.children()) out.push_back(ChildText(child));
    return out;
}

// A whole tree as "name[state](child,child...)".
inline std::string Outline(const OpNodeData& node) {
    std::string out = node.name() + "[" + std::to_string(node.state()) + "]";
    if (node.children().empty()) return out;
    out += "(";
    bool first = true;
    for (const auto& child : node.children()) {
        if (!first) out += ",";
        first = false;
        if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child)) {
            out += *sub ? Outline(**sub) : "<null>";
        } else {
            IFileNode* file = std::get<IFileNode*>(child);
            out += std::string(file->GetFileName()) + "[" + std::to_string(file->GetCheckedStatus()) + "]";
        }
    }
    return out + ")";
}

// The sub-node named name among the children of node; null when there is none.
inline OpNodeData::Ptr ChildNamed(const OpNodeData& node, const std::string& name) {
    for (const auto& child : node.children()) {
        if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child); sub && *sub && (*sub)->name() == name) return *sub;
    }
    return nullptr;
}

}  // namespace result_tree_test
