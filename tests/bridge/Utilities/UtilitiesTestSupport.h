// Node trees and settings shared by the utility tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/ConfigPaths.h"
#include "support/SimpleFileNode.h"
#include "support/TempDir.h"

namespace utilities_test {

// A root folder that names its volume and searcher type, as a file system's root does.
class RootNode : public testsupport::SimpleFileNode {
public:
    RootNode(std::string volume, _tagSearcherType type) : SimpleFileNode(1, 0, "", true), m_volume(std::move(volume)) {
        Type(type);
    }
    const char* GetVolumeName() override { return m_volume.c_str(); }
    std::string m_volume;
};

// Owns the nodes of one tree; children are linked under their parent as they are made.
class Tree {
public:
    explicit Tree(std::string volume = "Vol", _tagSearcherType type = SEARCHER_HFSPLUS)
        : m_root(std::make_unique<RootNode>(std::move(volume), type)) {}
    ~Tree() {
        for (auto it = m_nodes.rbegin(); it != m_nodes.rend(); ++it) (*it)->SetParent(nullptr);
    }
    RootNode* root() { return m_root.get(); }
    testsupport::SimpleFileNode* Add(CFileNode* parent, const std::string& name, bool directory = false) {
        m_nodes.push_back(
            std::make_unique<testsupport::SimpleFileNode>(next++, parent->GetCurrentNodeID(), name, directory));
        EXPECT_EQ(parent->AddChild(m_nodes.back().get()), 1);
        return m_nodes.back().get();
    }

private:
    i64 next = 100;
    std::unique_ptr<RootNode> m_root;
    std::vector<std::unique_ptr<testsupport::SimpleFileNode>> m_nodes;
};

// FILETIME of a Unix time.
constexpr _FILETIME FileTimeOf(i64 unixSeconds) {
    return (unixSeconds + 11644473600LL) * 10000000LL;
}

}  // namespace utilities_test
