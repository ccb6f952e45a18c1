#include "engine/Common/HugePages.h"
#include "engine/Common/Sanitizers.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

bool Aligned(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p) % hugepages::kPageBytes == 0;
}

}  // namespace

TEST(HugePages, MappedMemoryIsAlignedZeroedAndWholeForEverySize) {
    const std::size_t page = hugepages::kPageBytes;
    for (std::size_t bytes : {std::size_t(1), std::size_t(4096), page - 1, page, page + 1, 5 * page / 2, 3 * page}) {
        SCOPED_TRACE(bytes);
        auto* p = static_cast<unsigned char*>(hugepages::Map(bytes));
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(Aligned(p));
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[bytes - 1], 0);
        std::memset(p, 0xA5, bytes);  // every byte asked for can be written
        EXPECT_EQ(p[bytes / 2], 0xA5);
        hugepages::Unmap(p, bytes);
    }
    EXPECT_EQ(hugepages::Map(0), nullptr);
    EXPECT_EQ(hugepages::Map(std::size_t(-1)), nullptr);
    hugepages::Unmap(nullptr, 10);  // nothing to give back
}

TEST(HugePages, PagesGivenBackServeTheNextTakesAndTheReadyOnesAreBounded) {
    std::vector<unsigned char*> pages;
    for (int i = 0; i < 40; ++i) {
        auto* p = static_cast<unsigned char*>(hugepages::TakePage());
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(Aligned(p));
        std::memset(p, i, hugepages::kPageBytes);
        pages.push_back(p);
    }
    // No page was handed out twice: each still holds its own fill.
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i][0], static_cast<unsigned char>(i));
        EXPECT_EQ(pages[i][hugepages::kPageBytes - 1], static_cast<unsigned char>(i));
    }
    for (unsigned char* p : pages) hugepages::GivePage(p);
    hugepages::GivePage(nullptr);
    const std::size_t ready = hugepages::ReadyPages();
    EXPECT_LE(ready, 16u);
    if (hugepages::Mapping()) {
        EXPECT_GT(ready, 0u);
        // The next page is one given back (or one the thread made meanwhile), not a new mapping.
        void* again = hugepages::TakePage();
        hugepages::GivePage(again);
    }
}

TEST(HugePages, TheReadyPagesAreMadeAheadAfterTheFirstTake) {
    std::vector<void*> taken;
    if (!hugepages::Mapping()) {
        // The AddressSanitizer build keeps no pages ready: each is mapped when asked for, unmapped when given.
        for (int i = 0; i < 4; ++i) taken.push_back(hugepages::TakePage());
        for (void* p : taken) hugepages::GivePage(p);
        EXPECT_EQ(hugepages::ReadyPages(), 0u);
        return;
    }
    // Empty the reserve, then wait for the thread to fill it again.
    for (int i = 0; i < 20; ++i) taken.push_back(hugepages::TakePage());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (hugepages::ReadyPages() < 16 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(hugepages::ReadyPages(), 16u);
    for (void* p : taken) hugepages::GivePage(p);
    EXPECT_EQ(hugepages::ReadyPages(), 16u);  // the rest were unmapped
}

TEST(HugePages, VectorsKeepTheirValuesAcrossEverySizeClass) {
    // Growth by one crosses the general allocator, a single page and several pages.
    std::vector<std::uint64_t, hugepages::Allocator<std::uint64_t>> values;
    for (std::uint64_t i = 0; i < 1'200'000; ++i) values.push_back(i * 7);
    for (std::uint64_t i = 0; i < values.size(); ++i) ASSERT_EQ(values[i], i * 7);
    auto copy = values;
    values.clear();
    values.shrink_to_fit();
    EXPECT_EQ(copy[1'199'999], 1'199'999u * 7);
    // Exactly at the edges of the size classes.
    for (std::size_t n : {hugepages::kMappedFrom - 1, hugepages::kMappedFrom, hugepages::kPageBytes,
                          hugepages::kPageBytes + 1}) {
        std::vector<unsigned char, hugepages::Allocator<unsigned char>> bytes(n, 0x3C);
        EXPECT_EQ(bytes.front(), 0x3C);
        EXPECT_EQ(bytes.back(), 0x3C);
    }
}

TEST(HugePages, ThreadsTakingAndGivingPagesKeepTheirBytes) {
    std::vector<std::thread> threads;
    std::vector<std::string> failures(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            std::vector<unsigned char*> mine;
            for (int step = 0; step < 200; ++step) {
                if (mine.size() < 6 && step % 3 != 2) {
                    auto* p = static_cast<unsigned char*>(hugepages::TakePage());
                    if (!p) {
                        failures[size_t(t)] = "no page";
                        return;
                    }
                    p[0] = p[hugepages::kPageBytes - 1] = static_cast<unsigned char>(t);
                    mine.push_back(p);
                } else if (!mine.empty()) {
                    unsigned char* p = mine.back();
                    mine.pop_back();
                    if (p[0] != t || p[hugepages::kPageBytes - 1] != t) failures[size_t(t)] = "a page changed";
                    hugepages::GivePage(p);
                }
            }
            for (unsigned char* p : mine) hugepages::GivePage(p);
        });
    }
    for (auto& thread : threads) thread.join();
    for (const std::string& failure : failures) EXPECT_EQ(failure, "");
}

namespace {

// Forks a child that takes and gives `rounds` pages (pausing between take and give) and exits: "" when
// it ended well within 30 s, else what went wrong.
std::string ForkTakingPages(int rounds, int pauseMicros) {
    const pid_t child = fork();
    if (child < 0) return "no fork";
    if (child == 0) {
        for (int i = 0; i < rounds; ++i) {
            void* p = hugepages::TakePage();
            if (!p) _exit(2);
            static_cast<unsigned char*>(p)[0] = 1;
            if (pauseMicros > 0) usleep(useconds_t(pauseMicros));
            hugepages::GivePage(p);
        }
        _exit(0);
    }
    int status = -1;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return "the child hung";
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "the child failed: status " + std::to_string(status);
}

}  // namespace

// A child forked while the filling thread waits (the reserve full) takes and gives pages many times
// without a thread of its own: the parent's condition, which counts the parent's thread as waiting, is
// not used.
TEST(HugePages, AChildOfForkTakesPagesAfterTheParentsThreadFilledTheReserve) {
    hugepages::GivePage(hugepages::TakePage());
    if (hugepages::Mapping()) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (hugepages::ReadyPages() < 16 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(hugepages::ReadyPages(), 16u);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the thread is back waiting
    }
    EXPECT_EQ(ForkTakingPages(60, 500), "");
}

TEST(HugePages, AChildOfForkTakesPagesWhileTheParentsThreadFills) {
    // Forks while the reserve is being filled: the child must neither hang on the reserve's lock nor
    // wait for a thread it does not have.
    for (int round = 0; round < 5; ++round) {
        std::vector<void*> taken;
        for (int i = 0; i < 16; ++i) taken.push_back(hugepages::TakePage());
        EXPECT_EQ(ForkTakingPages(20, 0), "") << "round " << round;
        for (void* p : taken) hugepages::GivePage(p);
    }
}

// Under AddressSanitizer the room of a mapped array past its size is poisoned (a read past the array is
// caught as it is for the general allocator's), and given back whole with the array.
TEST(HugePages, TheRoomPastAMappedArrayIsPoisonedUnderAddressSanitizer) {
    const std::size_t bytes = hugepages::kMappedFrom + 100;
    hugepages::Allocator<unsigned char> allocator;
    unsigned char* array = allocator.allocate(bytes);
    std::memset(array, 0x5A, bytes);
    EXPECT_EQ(array[bytes - 1], 0x5A);
#if BRELVOX_ADDRESS_SANITIZER
    if (hugepages::Mapping()) {
        EXPECT_EQ(__asan_region_is_poisoned(array, bytes), nullptr);
        EXPECT_TRUE(__asan_address_is_poisoned(array + bytes));
        EXPECT_TRUE(__asan_address_is_poisoned(array + hugepages::kPageBytes - 1));
        EXPECT_DEATH(static_cast<volatile unsigned char*>(array)[bytes + 8] = 1, "use-after-poison");
    }
#endif
    allocator.deallocate(array, bytes);
#if BRELVOX_ADDRESS_SANITIZER
    // The page went back whole (to the pages kept ready or to the system).
    void* page = hugepages::TakePage();
    EXPECT_EQ(__asan_region_is_poisoned(page, hugepages::kPageBytes), nullptr);
    hugepages::GivePage(page);
#endif
}
