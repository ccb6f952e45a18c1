// Sequential read throughput of the read-ahead cache against plain reads of the same file and dd.
//
// Makes an image of real bytes (a pseudo-random pattern, every byte written: a sparse file would have dd
// and the cache copy zero pages that no disk ever gave) and warms the page cache. Each round reads the
// image once with each of:
//  - dd bs=4M: each byte copied once, into one buffer that stays in the processor's cache, and never
//    read. The ceiling of a read, not a peer: a scan must keep its blocks in memory (the read-ahead
//    queue) and read every byte of them.
//  - plain reads: the work a deep scan's reading must do at least, on one thread: each 4 MiB block read
//    with pread into one of as many buffers as the cache keeps, and every byte of it read (its 64-bit
//    words added up).
//  - the cache, in place: a disk device wrapped in the cache with 4 MiB blocks, each block made current
//    in turn and read where the cache holds it (CurrentBlockSectors, as the NTFS search lends its
//    blocks): one copy of each byte, as the plain reads, but the next blocks are read meanwhile on the
//    cache's thread. Target: at least the plain reads' rate (the read-ahead thread pays for itself).
//  - the cache, copied: each block taken whole through ReadSector, how the other searchers see a block:
//    each byte is copied twice, into the block and out of it. Target: at least 0.9 of the plain reads
//    (the second copy hidden, all but a tenth, behind the read-ahead).
// Every pass must add up to the image's sum. dd's rate is taken from its own report, so starting the
// process is not counted; a cache pass is timed from BeginCache to EndCache, opening the device
// excluded. Prints every round, the medians of the rates and of the rounds' ratios, and the load.
//
// Usage: cache_throughput [size-in-MiB] [folder for the image] [rounds]
//        cache_throughput --smoke [folder]   (the test run's check: 16 MiB, one round in each mode, no dd)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The sum of the 64-bit words of a block (its size is a multiple of 8).
u64 SumWords(const u8* data, size_t bytes) {
    u64 sum = 0;
    for (size_t i = 0; i + 8 <= bytes; i += 8) {
        u64 word;
        std::memcpy(&word, data + i, 8);
        sum += word;
    }
    return sum;
}

// Writes `mib` MiB of a xorshift pattern; the sum of its words in *sum. False on failure.
bool MakeImage(const std::filesystem::path& image, long long mib, u64* sum) {
    FILE* out = std::fopen(image.c_str(), "wb");
    if (!out) return false;
    std::vector<u64> chunk((4u << 20) / 8);
    u64 state = 0x9E3779B97F4A7C15ULL;
    *sum = 0;
    bool ok = true;
    for (long long written = 0; ok && written < mib; written += 4) {
        for (u64& word : chunk) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const size_t bytes = static_cast<size_t>(std::min<long long>(4, mib - written)) << 20;
        *sum += SumWords(reinterpret_cast<const u8*>(chunk.data()), bytes);
        ok = std::fwrite(chunk.data(), 1, bytes, out) == bytes;
    }
    return std::fclose(out) == 0 && ok;
}

// Seconds of one dd pass as dd reports them; 0 on failure.
double DdSeconds(const std::string& image) {
    const std::string cmd = "LC_ALL=C dd if='" + image + "' of=/dev/null bs=4M 2>&1";
    FILE* out = ::popen(cmd.c_str(), "r");
    if (!out) return 0;
    std::string report;
    char line[512];
    while (std::fgets(line, sizeof line, out)) report += line;
    if (::pclose(out) != 0) return 0;
    // "... bytes (...) copied, 0.254 s, 8.5 GB/s"
    const size_t at = report.rfind("copied, ");
    return at == std::string::npos ? 0 : std::strtod(report.c_str() + at + 8, nullptr);
}

// Seconds of one pass through the cache, the consumer reading each block in place or copied out; 0 on
// failure. The sum of the words read in *sum.
double CacheSeconds(const std::string& image, bool inPlace, u64* sum) {
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(image.c_str()));
    if (!disk || !disk->Open(nullptr)) return 0;
    CStorageDeviceWithCache cache(disk.get());
    const u32 sectorSize = disk->GetSectorSize();
    const u32 blockSectors = static_cast<u32>(kxread::kChunkSize / sectorSize);
    if (!cache.SetBlockSize(blockSectors)) return 0;
    std::vector<u8> consumer(kxread::kChunkSize);
    const i64 total = disk->GetTotalSectors();
    *sum = 0;
    const auto start = Clock::now();
    cache.BeginCache();
    for (i64 block = 0; cache.IsBlockInValidRange(block); ++block) {
        if (!cache.SetCurCacheBlock(block)) return 0;
        const i64 first = block * blockSectors;
        const i64 count = std::min<i64>(blockSectors, total - first);
        const size_t bytes = static_cast<size_t>(count) * sectorSize;
        const u8* data = inPlace ? cache.CurrentBlockSectors(first, count) : consumer.data();
        if (!data || (!inPlace && !cache.ReadSector(consumer.data(), first, count))) return 0;
        *sum += SumWords(data, bytes);
    }
    cache.EndCache();
    return Seconds(Clock::now() - start);
}

// Seconds of the work a pass must do at least, without the cache: each 4 MiB block read with pread into
// one of as many buffers as the cache keeps (its queue and the current one), its words added up.
double PlainSeconds(const std::string& image, u64* sum) {
    const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::vector<std::vector<u8>> blocks(CStorageDeviceWithCache::kQueueDepth + 1, std::vector<u8>(kxread::kChunkSize));
    *sum = 0;
    const auto start = Clock::now();
    size_t next = 0;
    for (off_t at = 0;; at += static_cast<off_t>(kxread::kChunkSize)) {
        std::vector<u8>& block = blocks[next++ % blocks.size()];
        const ssize_t got = ::pread(fd, block.data(), block.size(), at);
        if (got <= 0) break;
        *sum += SumWords(block.data(), static_cast<size_t>(got));
    }
    ::close(fd);
    return Seconds(Clock::now() - start);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double LoadAverage() {
    double load = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    return load;
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const long long sizeMiB = smoke ? 16 : argc > 1 ? std::atoll(argv[1]) : 2048;
    // The folder is the second argument in both forms.
    const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
    const int rounds = smoke ? 1 : std::max(1, argc > 3 ? std::atoi(argv[3]) : 7);
    const std::filesystem::path image = folder / ("brelvox-bench-" + std::to_string(getpid()) + ".img");
    const double mib = static_cast<double>(sizeMiB);

    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    u64 expected = 0;
    if (sizeMiB <= 0 || !MakeImage(image, sizeMiB, &expected)) {
        std::fprintf(stderr, "cannot make %s\n", image.c_str());
        std::filesystem::remove(image, ec);
        return 1;
    }
    if (smoke) {
        // One pass in each mode over a small image: every block read, every byte the image's.
        u64 inPlaceSum = 0, copiedSum = 0;
        const double inPlace = CacheSeconds(image.string(), true, &inPlaceSum);
        const double copied = CacheSeconds(image.string(), false, &copiedSum);
        std::filesystem::remove(image, ec);
        std::printf("smoke: 16 MiB through the cache in %.3f s in place, %.3f s copied\n", inPlace, copied);
        const bool ok = inPlace > 0 && copied > 0 && inPlaceSum == expected && copiedSum == expected;
        if (!ok) std::fprintf(stderr, "smoke run failed: the bytes read are not the image's\n");
        return ok ? 0 : 1;
    }
    // Warm the page cache: every pass then copies from memory.
    DdSeconds(image.string());
    DdSeconds(image.string());

    std::vector<double> ddRates, plainRates, inPlaceRates, copiedRates, plainRatios, inPlaceRatios, copiedRatios;
    bool wrongBytes = false;
    const double loadBefore = LoadAverage();
    std::printf("image %lld MiB of real bytes, block and dd bs 4 MiB; rates in MiB/s, (ratio to the plain reads)\n",
                sizeMiB);
    for (int i = 0; i < rounds; ++i) {
        u64 plainSum = 0, inPlaceSum = 0, copiedSum = 0;
        const double dd = DdSeconds(image.string());
        const double plain = PlainSeconds(image.string(), &plainSum);
        const double inPlace = CacheSeconds(image.string(), true, &inPlaceSum);
        const double copied = CacheSeconds(image.string(), false, &copiedSum);
        if (dd <= 0 || plain <= 0 || inPlace <= 0 || copied <= 0) {
            std::fprintf(stderr, "a pass failed\n");
            std::filesystem::remove(image, ec);
            return 1;
        }
        wrongBytes |= plainSum != expected || inPlaceSum != expected || copiedSum != expected;
        ddRates.push_back(mib / dd);
        plainRates.push_back(mib / plain);
        inPlaceRates.push_back(mib / inPlace);
        copiedRates.push_back(mib / copied);
        plainRatios.push_back(dd / plain);
        inPlaceRatios.push_back(plain / inPlace);
        copiedRatios.push_back(plain / copied);
        std::printf("round %d: dd %8.1f  plain reads %8.1f  in place %8.1f (%.3f)  copied %8.1f (%.3f)\n", i + 1,
                    ddRates.back(), plainRates.back(), inPlaceRates.back(), inPlaceRatios.back(), copiedRates.back(),
                    copiedRatios.back());
    }
    std::filesystem::remove(image, ec);
    std::printf("load %.1f before, %.1f after (%ld cores)\n", loadBefore, LoadAverage(), sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("median dd          : %8.1f MiB/s\n", Median(ddRates));
    std::printf("median plain reads : %8.1f MiB/s (%.3f of dd)\n", Median(plainRates), Median(plainRatios));
    std::printf("median in place    : %8.1f MiB/s, %.3f of the plain reads (target >= 1.0)\n", Median(inPlaceRates),
                Median(inPlaceRatios));
    std::printf("median copied      : %8.1f MiB/s, %.3f of the plain reads (target >= 0.9)%s\n", Median(copiedRates),
                Median(copiedRatios), wrongBytes ? " [bytes not the image's!]" : "");
    return wrongBytes ? 1 : 0;
}
