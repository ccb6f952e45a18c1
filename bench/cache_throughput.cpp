// Sequential read throughput of the read-ahead cache against dd of the same file.
//
// Makes a sparse image (2 GiB by default) and warms the page cache. Each round reads the image once
// with `dd bs=4M` and once through a disk device wrapped in the cache with 4 MiB blocks, the way a deep
// scan does it: each block made current, then read whole by the consumer through ReadSector (the only
// way the searchers see a block's bytes). dd's rate is taken from its own report, so starting the
// process is not counted; the cache pass is timed from BeginCache to EndCache, opening the device
// excluded. Prints every round and the medians; the ratio is the median of the rounds' ratios.
//
// Usage: cache_throughput [size-in-MiB] [folder for the image] [rounds] [bare]
//        cache_throughput --smoke [folder]   (the test run's check: 16 MiB, one round, no dd)
// With "bare" the consumer only makes each block current and reads one byte of it: the cache's own
// cost, without the consumer's copy.
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

// Seconds of one pass through the cache; 0 on failure.
double CacheSeconds(const std::string& image, bool bare, unsigned long long* checksum) {
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(image.c_str()));
    if (!disk || !disk->Open(nullptr)) return 0;
    CStorageDeviceWithCache cache(disk.get());
    const u32 blockSectors = static_cast<u32>(kxread::kChunkSize / disk->GetSectorSize());
    if (!cache.SetBlockSize(blockSectors)) return 0;
    std::vector<u8> consumer(kxread::kChunkSize);
    const i64 total = disk->GetTotalSectors();
    const auto start = Clock::now();
    cache.BeginCache();
    for (i64 block = 0; cache.IsBlockInValidRange(block); ++block) {
        if (!cache.SetCurCacheBlock(block)) return 0;
        const i64 first = block * blockSectors;
        const i64 count = bare ? 1 : std::min<i64>(blockSectors, total - first);
        if (!cache.ReadSector(consumer.data(), first, count)) return 0;
        *checksum += consumer[static_cast<size_t>(block) % (static_cast<size_t>(count) * 512)];
    }
    cache.EndCache();
    return Seconds(Clock::now() - start);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--smoke") == 0) {
        // One pass through the cache over a small image: it must read every block.
        const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
        const std::filesystem::path image = folder / ("brelvox-smoke-" + std::to_string(getpid()) + ".img");
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (FILE* f = std::fopen(image.c_str(), "wb")) std::fclose(f);
        std::filesystem::resize_file(image, 16u << 20, ec);
        unsigned long long checksum = 0;
        const double seconds = ec ? 0 : CacheSeconds(image.string(), false, &checksum);
        std::filesystem::remove(image, ec);
        std::printf("smoke: 16 MiB through the cache in %.3f s\n", seconds);
        return seconds > 0 && checksum == 0 ? 0 : 1;
    }
    const long long sizeMiB = argc > 1 ? std::atoll(argv[1]) : 2048;
    const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 7);
    const bool bare = argc > 4 && std::strcmp(argv[4], "bare") == 0;
    const std::filesystem::path image = folder / ("brelvox-bench-" + std::to_string(getpid()) + ".img");
    const double mib = static_cast<double>(sizeMiB);

    std::error_code ec;
    if (FILE* f = std::fopen(image.c_str(), "wb")) std::fclose(f);
    std::filesystem::resize_file(image, static_cast<std::uintmax_t>(sizeMiB) * 1024 * 1024, ec);
    if (ec) {
        std::fprintf(stderr, "cannot make %s: %s\n", image.c_str(), ec.message().c_str());
        return 1;
    }
    // Warm the page cache: both passes then copy from memory.
    DdSeconds(image.string());
    DdSeconds(image.string());

    std::vector<double> ddRates, cacheRates, ratios;
    unsigned long long checksum = 0;
    std::printf("image %lld MiB, block and dd bs 4 MiB, consumer %s\n", sizeMiB,
                bare ? "bare (block made current only)" : "reads each block whole");
    for (int i = 0; i < rounds; ++i) {
        const double dd = DdSeconds(image.string());
        const double cache = CacheSeconds(image.string(), bare, &checksum);
        if (dd <= 0 || cache <= 0) {
            std::fprintf(stderr, "a pass failed\n");
            std::filesystem::remove(image, ec);
            return 1;
        }
        ddRates.push_back(mib / dd);
        cacheRates.push_back(mib / cache);
        ratios.push_back(dd / cache);
        std::printf("round %d: dd %8.1f MiB/s  cache %8.1f MiB/s  ratio %.3f\n", i + 1, ddRates.back(),
                    cacheRates.back(), ratios.back());
    }
    std::filesystem::remove(image, ec);
    std::printf("median dd    : %8.1f MiB/s\n", Median(ddRates));
    std::printf("median cache : %8.1f MiB/s\n", Median(cacheRates));
    std::printf("median ratio : %.3f (target >= 0.90)%s\n", Median(ratios), checksum ? " [bytes not zero!]" : "");
    return 0;
}
