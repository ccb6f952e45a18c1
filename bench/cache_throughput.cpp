// Sequential read throughput of the read-ahead cache against dd of the same file.
//
// Makes a sparse image (2 GiB by default), warms the page cache, then reads it once with
// `dd bs=4M` and once through a disk device wrapped in the cache, the way a deep scan does it: each
// block made current, then read whole by a consumer. Prints both rates and their ratio.
// Usage: cache_throughput [size-in-MiB] [folder for the image] [rounds]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool RunDd(const std::string& image) {
    std::string cmd = "dd if='" + image + "' of=/dev/null bs=4M status=none";
    return std::system(cmd.c_str()) == 0;
}

// Bytes per second of one dd pass.
double DdRate(const std::string& image, double bytes) {
    auto start = Clock::now();
    if (!RunDd(image)) return 0;
    return bytes / Seconds(Clock::now() - start);
}

// Bytes per second of one pass through the cache; 0 on failure.
double CacheRate(const std::string& image, double bytes, unsigned long long* checksum) {
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(image.c_str()));
    if (!disk || !disk->Open(nullptr)) return 0;
    CStorageDeviceWithCache cache(disk.get());
    const u32 blockSectors = static_cast<u32>(kxread::kChunkSize / disk->GetSectorSize());
    cache.SetBlockSize(blockSectors);
    std::vector<u8> consumer(kxread::kChunkSize);
    auto start = Clock::now();
    cache.BeginCache();
    const i64 total = disk->GetTotalSectors();
    for (i64 block = 0; cache.IsBlockInValidRange(block); ++block) {
        if (!cache.SetCurCacheBlock(block)) return 0;
        const i64 first = block * blockSectors;
        const i64 count = std::min<i64>(blockSectors, total - first);
        if (!cache.ReadSector(consumer.data(), first, count)) return 0;
        *checksum += consumer[static_cast<size_t>(block) % consumer.size()];
    }
    cache.EndCache();
    return bytes / Seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    const long long sizeMiB = argc > 1 ? std::atoll(argv[1]) : 2048;
    const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::filesystem::path image = folder / ("brelvox-bench-" + std::to_string(getpid()) + ".img");
    const double bytes = static_cast<double>(sizeMiB) * 1024 * 1024;

    std::error_code ec;
    { FILE* f = std::fopen(image.c_str(), "wb"); if (f) std::fclose(f); }
    std::filesystem::resize_file(image, static_cast<std::uintmax_t>(bytes), ec);
    if (ec) {
        std::fprintf(stderr, "cannot make %s: %s\n", image.c_str(), ec.message().c_str());
        return 1;
    }
    RunDd(image.string());  // warm the page cache

    double bestDd = 0;
    double bestCache = 0;
    unsigned long long checksum = 0;
    for (int i = 0; i < rounds; ++i) {
        bestDd = std::max(bestDd, DdRate(image.string(), bytes));
        bestCache = std::max(bestCache, CacheRate(image.string(), bytes, &checksum));
    }
    std::filesystem::remove(image, ec);
    if (bestDd <= 0 || bestCache <= 0) {
        std::fprintf(stderr, "a pass failed\n");
        return 1;
    }
    std::printf("image %lld MiB, best of %d rounds\n", sizeMiB, rounds);
    std::printf("dd bs=4M : %8.1f MiB/s\n", bestDd / 1048576);
    std::printf("cache    : %8.1f MiB/s\n", bestCache / 1048576);
    std::printf("ratio    : %.2f (target >= 0.90)%s\n", bestCache / bestDd, checksum ? " [!]" : "");
    return 0;
}
