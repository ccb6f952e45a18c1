#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/Utilities/KXCPPPublic.h"
#include "bridge/Utilities/TextUtilities.h"
#include "support/SimpleFileNode.h"

using testsupport::SimpleFileNode;

namespace {

class UnnamedNode : public SimpleFileNode {
public:
    UnnamedNode() : SimpleFileNode(1, 0, "", false) {}
    const char* GetFileName() override { return nullptr; }
};

TEST(KXCPPPublic, NodeExtensions) {
    struct Case {
        std::string name;
        std::string extension;
    };
    const std::vector<Case> cases = {
        {"IMG_0001.JPG", "jpg"},
        {"archive.tar.GZ", "gz"},
        {"README", ""},
        {"trailing.", ""},
        {".profile", "profile"},
        {"\xc3\x89t\xc3\xa9.\xc3\x89PS", "\xc3\xa9ps"},  // "Été.ÉPS": letters beyond ASCII fold too
        {std::string("bad.\xff" "X", 6), std::string("\xff" "x", 2)},
    };
    for (const Case& c : cases) {
        SimpleFileNode node(1, 0, c.name, false);
        EXPECT_EQ(KXCPPPublic::instance().GetNodeExt(&node), c.extension) << c.name;
    }
    UnnamedNode unnamed;
    EXPECT_EQ(KXCPPPublic::instance().GetNodeExt(&unnamed), "");
    EXPECT_EQ(KXCPPPublic::instance().GetNodeExt(nullptr), "");
    EXPECT_EQ(bridge_text::ToLower("MiXeD \xce\xa3"), "mixed \xcf\x83");
}

}  // namespace
