#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/Common/Sanitizers.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/NodeMemory.h"
#include "support/SimpleFileNode.h"

namespace {

struct Block {
    void* memory;
    std::size_t bytes;
    unsigned char fill;
};

// Every byte of every live block still holds its own fill: no two blocks overlap and nothing wrote
// into a live block (the free lists live inside freed slots only).
void ExpectIntact(const std::vector<Block>& blocks) {
    for (const Block& b : blocks) {
        const auto* bytes = static_cast<const unsigned char*>(b.memory);
        ASSERT_TRUE(std::all_of(bytes, bytes + b.bytes, [&](unsigned char c) { return c == b.fill; }))
            << b.bytes << "-byte block at " << b.memory;
    }
}

class SizedNode : public testsupport::SimpleFileNode {
public:
    explicit SizedNode(i64 id) : SimpleFileNode(id, 0, "n", false) {}
    IFileNode* Clone() override { return new SizedNode(GetCurrentNodeID()); }
};

// A bigger node type, as the engines' nodes are: its size is handed back by its own destructor.
class WideNode : public SizedNode {
public:
    explicit WideNode(i64 id) : SizedNode(id) { std::memset(m_payload, 0x5A, sizeof(m_payload)); }
    unsigned char m_payload[200];
};

// One bigger than the chunks serve.
class HugeNode : public SizedNode {
public:
    explicit HugeNode(i64 id) : SizedNode(id) {}
    unsigned char m_payload[nodememory::kLargest];
};

class ThrowingNode : public SizedNode {
public:
    explicit ThrowingNode(i64 id) : SizedNode(id) { throw std::runtime_error("refused"); }
};

}  // namespace

TEST(NodeMemory, BlocksOfEverySizeStayApartAlignedAndAllComeBack) {
    const nodememory::Usage before = nodememory::CurrentUsage();
    std::mt19937 random(7);
    std::vector<Block> blocks;
    // Sizes across every step, the step edges and past the largest chunked size.
    std::vector<std::size_t> sizes = {0, 1, 8, 15, 16, 17, 31, 32, 33, 100, 176, 512, 1000, 1023, 1024, 1025, 4096};
    for (std::size_t s = 16; s <= nodememory::kLargest; s += 16) sizes.push_back(s);
    for (int round = 0; round < 40; ++round) {
        for (std::size_t bytes : sizes) {
            void* memory = (round % 2) ? nodememory::Take(bytes) : nodememory::TryTake(bytes);
            ASSERT_NE(memory, nullptr);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % 16, 0u) << bytes;
            const auto fill = static_cast<unsigned char>(random());
            std::memset(memory, fill, bytes);
            blocks.push_back({memory, bytes, fill});
        }
        // Give back a random third, so later rounds reuse freed slots between live ones.
        std::shuffle(blocks.begin(), blocks.end(), random);
        for (std::size_t i = 0; i < blocks.size() / 3; ++i) nodememory::Give(blocks[i].memory, blocks[i].bytes);
        blocks.erase(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(blocks.size() / 3));
        ExpectIntact(blocks);
    }
    const nodememory::Usage during = nodememory::CurrentUsage();
    size_t chunked = 0;
    for (const Block& b : blocks) chunked += b.bytes <= nodememory::kLargest ? 1 : 0;
    if (nodememory::Pooled()) {
        EXPECT_EQ(during.liveSlots, before.liveSlots + chunked);
    }
    for (const Block& b : blocks) nodememory::Give(b.memory, b.bytes);
    const nodememory::Usage after = nodememory::CurrentUsage();
    EXPECT_EQ(after.liveSlots, before.liveSlots);
    // Empty chunks are given back: at most one kept per size step.
    EXPECT_LE(after.chunks, before.chunks + nodememory::kLargest / 16);
}

TEST(NodeMemory, NodesOfEveryKindComeAndGoThroughTheChunks) {
    const nodememory::Usage before = nodememory::CurrentUsage();
    std::vector<CFileNode*> nodes;
    for (i64 id = 0; id < 3000; ++id) {
        switch (id % 4) {
            case 0: nodes.push_back(new SizedNode(id)); break;
            case 1: nodes.push_back(new (std::nothrow) WideNode(id)); break;
            case 2: nodes.push_back(new HugeNode(id)); break;
            default: nodes.push_back(static_cast<CFileNode*>(nodes.back()->Clone())); break;
        }
    }
    if (nodememory::Pooled()) {
        EXPECT_EQ(nodememory::CurrentUsage().liveSlots, before.liveSlots + 2250);
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (i % 4 == 1) {
            EXPECT_EQ(static_cast<WideNode*>(nodes[i])->m_payload[199], 0x5A);
        }
        if (i % 4 != 3) {
            EXPECT_EQ(nodes[i]->GetCurrentNodeID(), static_cast<i64>(i));
        }
    }
    // Released through the base (the engines' way) and through delete on the interface.
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (i % 2)
            nodes[i]->Release();
        else
            delete static_cast<IFileNode*>(nodes[i]);
    }
    EXPECT_EQ(nodememory::CurrentUsage().liveSlots, before.liveSlots);

    // A constructor that throws gives its memory back, by either form of new.
    EXPECT_THROW(new ThrowingNode(1), std::runtime_error);
    EXPECT_THROW((void)new (std::nothrow) ThrowingNode(2), std::runtime_error);
    EXPECT_EQ(nodememory::CurrentUsage().liveSlots, before.liveSlots);
}

TEST(NodeMemory, ThreadsMakingAndFreeingNodesAtOnceKeepTheirBytes) {
    const nodememory::Usage before = nodememory::CurrentUsage();
    std::vector<std::thread> threads;
    std::vector<std::string> failures(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            std::mt19937 random(static_cast<unsigned>(t));
            std::vector<Block> mine;
            for (int step = 0; step < 20000; ++step) {
                if (mine.empty() || random() % 3 != 0) {
                    const std::size_t bytes = 16 + random() % 300;
                    void* memory = nodememory::Take(bytes);
                    const auto fill = static_cast<unsigned char>(t * 40 + step % 40);
                    std::memset(memory, fill, bytes);
                    mine.push_back({memory, bytes, fill});
                } else {
                    const std::size_t at = random() % mine.size();
                    const Block b = mine[at];
                    const auto* bytes = static_cast<const unsigned char*>(b.memory);
                    if (!std::all_of(bytes, bytes + b.bytes, [&](unsigned char c) { return c == b.fill; }))
                        failures[static_cast<size_t>(t)] = "a block changed under thread " + std::to_string(t);
                    nodememory::Give(b.memory, b.bytes);
                    mine[at] = mine.back();
                    mine.pop_back();
                }
            }
            for (const Block& b : mine) nodememory::Give(b.memory, b.bytes);
        });
    }
    for (auto& thread : threads) thread.join();
    for (const std::string& failure : failures) EXPECT_EQ(failure, "");
    EXPECT_EQ(nodememory::CurrentUsage().liveSlots, before.liveSlots);
}

// Slots of many regions, freed in a scattered order, give their regions back; slots taken again from
// reused memory keep what is written into them.
TEST(NodeMemory, FreedNodesGiveTheirRegionsBackAndReusedMemoryHoldsNewBytes) {
    const nodememory::Usage before = nodememory::CurrentUsage();
    std::mt19937 random(7);
    for (int round = 0; round < 2; ++round) {
        std::vector<Block> blocks;
        for (int i = 0; i < 400000; ++i) {
            const std::size_t bytes = 48 + 16 * (i % 4);
            void* memory = nodememory::Take(bytes);
            const auto fill = static_cast<unsigned char>(round * 100 + i % 97);
            std::memset(memory, fill, bytes);
            blocks.push_back({memory, bytes, fill});
        }
        const nodememory::Usage during = nodememory::CurrentUsage();
        if (nodememory::Pooled()) {
            EXPECT_GE(during.regions, before.regions + 13);  // about 27 MiB of slots
            EXPECT_LE(during.chunks, during.regions * 31);
        }
        ExpectIntact(blocks);
        std::shuffle(blocks.begin(), blocks.end(), random);
        for (const Block& b : blocks) nodememory::Give(b.memory, b.bytes);
        const nodememory::Usage after = nodememory::CurrentUsage();
        EXPECT_EQ(after.liveSlots, before.liveSlots);
        // Every chunk went back to its region, and every region but one (kept for the next chunk).
        if (nodememory::Pooled()) {
            EXPECT_EQ(after.chunks, before.chunks);
            EXPECT_LE(after.regions, before.regions + 1);
        }
    }
}

// The pool serves the nodes in the sanitizer builds too (unless they are configured to step aside).
// Under AddressSanitizer a slot given back is poisoned, and a touch of it is reported as a use after
// release; the slot taken again is whole.
TEST(NodeMemory, AReleasedSlotIsPoisonedUnderAddressSanitizer) {
    EXPECT_EQ(nodememory::Pooled(), !sanitizers::kPoolsStepAside);
    auto* first = static_cast<unsigned char*>(nodememory::Take(64));
    std::memset(first, 0x11, 64);
    nodememory::Give(first, 64);
    auto* again = static_cast<unsigned char*>(nodememory::Take(64));
    std::memset(again, 0x22, 64);
    if (nodememory::Pooled()) {
        EXPECT_EQ(again, first) << "the slot given back is the next one taken";
    }
#if BRELVOX_ADDRESS_SANITIZER
    EXPECT_EQ(__asan_region_is_poisoned(again, 64), nullptr);
    nodememory::Give(again, 64);
    if (nodememory::Pooled()) {
        EXPECT_TRUE(__asan_address_is_poisoned(again));
        EXPECT_DEATH(static_cast<volatile unsigned char*>(again)[8] = 1, "use-after-poison");
    }
#else
    nodememory::Give(again, 64);
#endif
}
