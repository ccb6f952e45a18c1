// The store APFS file nodes live in: distinct places while taken, places reused once given back,
// several threads at once, the slabs gone with the last node, and nodes made and released through it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "engine/APFS/APFSFileNode.h"
#include "engine/APFS/APFSNodeStore.h"

namespace {

TEST(ApfsNodeStore, PlacesAreDistinctWhileTakenAndReusedOnceGiven) {
    const size_t size = sizeof(APFSFileNode);
    const size_t before = apfs::NodeStore::Live();
    std::vector<void*> places;
    // More than one slab's worth.
    for (int i = 0; i < 3000; ++i) {
        void* place = apfs::NodeStore::Take(size);
        ASSERT_NE(place, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(place) % alignof(std::max_align_t), 0u);
        std::memset(place, i & 0xFF, size);  // every byte of it is the caller's
        places.push_back(place);
    }
    EXPECT_EQ(std::set<void*>(places.begin(), places.end()).size(), places.size());
    for (int i = 0; i < 3000; ++i) {
        const auto* bytes = static_cast<const unsigned char*>(places[i]);
        ASSERT_EQ(bytes[0], i & 0xFF);
        ASSERT_EQ(bytes[size - 1], i & 0xFF) << "a neighbour wrote into place " << i;
    }
    if (apfs::NodeStore::Pooled()) {
        EXPECT_EQ(apfs::NodeStore::Live(), before + 3000);
        void* given = places[1234];
        apfs::NodeStore::Give(given, size);
        EXPECT_EQ(apfs::NodeStore::Take(size), given) << "the place given back is the next one taken";
    }
    for (void* place : places) apfs::NodeStore::Give(place, size);
    EXPECT_EQ(apfs::NodeStore::Live(), before);
    // Another size is the general allocator's.
    void* other = apfs::NodeStore::Take(size + 64);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(apfs::NodeStore::Live(), before);
    apfs::NodeStore::Give(other, size + 64);
}

TEST(ApfsNodeStore, NodesMadeAndReleasedOnSeveralThreads) {
    const size_t before = apfs::NodeStore::Live();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            std::vector<std::unique_ptr<APFSFileNode>> nodes;
            for (int round = 0; round < 20; ++round) {
                for (int i = 0; i < 500; ++i) {
                    nodes.emplace_back(new APFSFileNode());
                    nodes.back()->SetNodeID(t * 1000000 + round * 1000 + i);
                    nodes.back()->AddExtent(i, 8, 512, 0);
                }
                for (size_t i = 0; i < nodes.size(); i += 2) nodes[i].reset();
                for (size_t i = 0; i < nodes.size(); ++i) {
                    if (nodes[i]) {
                        EXPECT_EQ(nodes[i]->GetCurrentNodeID() / 1000000, t);
                    }
                }
                std::erase(nodes, nullptr);
            }
            // Released through the base class, as the tree builder does.
            for (auto& node : nodes) node.release()->Release();
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(apfs::NodeStore::Live(), before);
    // A node made with the nothrow form and copied through Clone.
    auto* node = new (std::nothrow) APFSFileNode();
    ASSERT_NE(node, nullptr);
    IFileNode* copy = node->Clone();
    ASSERT_NE(copy, nullptr);
    if (apfs::NodeStore::Pooled()) {
        EXPECT_EQ(apfs::NodeStore::Live(), before + 2);
    }
    copy->Release();
    delete node;
    EXPECT_EQ(apfs::NodeStore::Live(), before);
}

}  // namespace
