// Deep scan of a 2 GiB disk holding three NTFS volumes of 100,000 files in all and bench/raw's mixed
// content: the driver's session (ScanSession, in a child process each run) with Searchers() narrowed to
// the raw search, then the raw search and the NTFS search (rounds of the two alternated), against
// PhotoRec run as bench/raw runs it. The search is timed as the other deep benches time it (the
// session's run); the driver's listing and the session's teardown after it are shown apart.
// Prints MB/s, the ratios, callgrind's instructions per sector (on the first 256 MiB) and peak memory,
// also of the NTFS searcher alone with its lists at their caps (a device that repeats system records,
// index blocks and log pages until every list is full). Making the image needs root and FUSE.
//
//   ntfs_deep [folder for the image] [rounds]
//   ntfs_deep --smoke [folder]        the test run's check: the deep-search fixture disk, one round, no peers
//   ntfs_deep --once raw|both IMAGE LIST | --once caps FIXTURE_DISK   one run (a child of the above)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DeepBench.h"
#include "brelvox-scan/ScanSession.h"
#include "engine/Common/ByteReader.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "engine/NTFSSearch/NTFSSearchController.h"
#include "engine/NTFSSearch/NTFSUpCaseTable.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace {

using deepbench::Child;
using deepbench::Clock;
using deepbench::Median;
using deepbench::Run;
using deepbench::Seconds;
using deepbench::Self;
using deepbench::Value;

int OnceScan(const std::string& mode, const std::string& image, const std::string& list) {
    const int out = STDOUT_FILENO;
    SearcherFactories& table = Searchers();
    table.hfsPlus = nullptr;
    table.exfat = nullptr;
    table.fat = nullptr;
    table.apfs = nullptr;
    if (mode == "raw") table.ntfs = nullptr;
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});  // no first-publish pause
    scan::Options options;
    options.quick = false;
    options.listPath = list;
    options.source = image;
    // The search is the session's run, as the other deep benches time it; the driver then writes its
    // listing, and a session that goes frees every node (the driver itself ends without freeing them).
    std::string reason;
    bool ok = false;
    double search = -1, listing = -1;
    auto session = std::make_unique<scan::ScanSession>(options);
    auto start = Clock::now();
    if (session->Run(reason)) {
        search = Seconds(Clock::now() - start);
        start = Clock::now();
        ok = session->WriteList(reason);
        listing = Seconds(Clock::now() - start);
    }
    start = Clock::now();
    session.reset();
    const double teardown = Seconds(Clock::now() - start);
    if (ok)
        dprintf(out, "seconds %.4f\nlisting %.4f\nteardown %.4f\n", search, listing, teardown);
    else
        dprintf(out, "failed: %s\n", reason.c_str());
    return ok ? 0 : 1;
}

// A device of `blocks` 4 MiB blocks, each the same pattern of units of 64 sectors: an $MFT, a
// $LogFile, an $AttrDef, an $UpCase, a folder and an ordinary record (each alone), an index block,
// a restart page, an $AttrDef and an $UpCase sector, a log record page.
class PatternDevice : public IStorageDevice {
public:
    PatternDevice(std::vector<u8> block, i64 blocks) : m_block(std::move(block)), m_blocks(blocks) {}
    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, i64 first, i64 count) override {
        const i64 per = i64(m_block.size() / 512);
        for (i64 i = 0; i < count; ++i)
            std::memcpy(static_cast<u8*>(buffer) + i * 512, m_block.data() + ((first + i) % per) * 512, 512);
        return first >= 0 && first + count <= GetTotalSectors() ? 1 : 0;
    }
    u32 GetSectorSize() override { return 512; }
    i64 GetTotalSectors() override { return m_blocks * i64(m_block.size() / 512); }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    u32 GetType() override { return STORAGE_DEVICE_DISK; }
    u64 GetLastError() override { return 0; }

private:
    std::vector<u8> m_block;
    i64 m_blocks;
};

// A page of eight 512-byte sectors protected by its update sequence (number at `usa`, 9 entries).
void Protect(std::vector<u8>& p, size_t usa) {
    ByteWriter w(p.data(), p.size());
    w.Le16(usa, 7);
    for (size_t k = 0; k < 8; ++k) {
        std::memcpy(p.data() + usa + 2 + 2 * k, p.data() + 512 * k + 510, 2);
        w.Le16(512 * k + 510, 7);
    }
}

int OnceCaps(const std::string& disk) {
    const int out = STDOUT_FILENO;
    std::ifstream in(disk, std::ios::binary);
    std::vector<u8> bytes(std::filesystem::file_size(disk));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    // Alpha, the first volume of the fixture disk (2 KiB clusters), at sector 2048.
    const size_t base = 2048 * 512;
    const ByteReader boot(bytes.data() + base, 512);
    const i64 cluster = 2048;
    const size_t mft = base + size_t(boot.Le64(48).value_or(0)) * cluster;
    CNTFSDataRunList runs;
    {
        std::vector<u8> own(bytes.begin() + i64(mft), bytes.begin() + i64(mft) + 1024);
        CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(own.data(), 1024, runs, 0, nullptr);
    }
    auto record = [&](i64 n) {
        const size_t at = base + size_t(runs.GetLCN(n * 1024 / cluster)) * cluster + size_t(n * 1024 % cluster);
        return std::vector<u8>(bytes.begin() + i64(at), bytes.begin() + i64(at) + 1024);
    };
    // Many (record 69 of Alpha) owns an index block; deep.bin (79) is an ordinary file.
    const std::vector<u8> folder = record(69), file = record(79);
    std::vector<u8> index(4096);
    {
        std::vector<u8> r = folder;
        CNTFSFileRecord parsed(r.data(), 1024, 0);
        CNTFSDataRunList allocation;
        CNTFSFileRecordDataRunsAttribute::GetDataRunList(parsed.FindAttibute(0xA0, 0), allocation);
        std::memcpy(index.data(), bytes.data() + base + size_t(allocation.GetLCN(0)) * cluster, 4096);
    }
    std::vector<u8> restart(4096, 0), page(4096, 0);
    std::memcpy(restart.data(), "RSTR", 4);
    std::memcpy(restart.data() + 144, "N\0T\0F\0S\0", 8);
    Protect(restart, 30);
    std::memcpy(page.data(), "RCRD", 4);
    ByteWriter(page.data(), page.size()).Le16(4, 40);
    ByteWriter(page.data(), page.size()).Le16(6, 9);
    Protect(page, 40);
    std::vector<u8> upcase(512);
    for (u32 i = 0; i < 256; ++i) ByteWriter(upcase.data(), 512).Le16(2 * i, UP_CASE_FILE_CONTENTS_DEFINE()[i]);

    std::vector<u8> block(size_t(8192) * 512, 0);
    auto put = [&](size_t sector, const std::vector<u8>& b, size_t n) { std::memcpy(block.data() + sector * 512, b.data(), n); };
    for (size_t unit = 0; unit < 8192 / 64; ++unit) {
        const size_t u = unit * 64;
        put(u + 0, record(0), 1024);
        put(u + 4, record(2), 1024);
        put(u + 8, record(4), 1024);
        put(u + 12, record(10), 1024);
        put(u + 16, folder, 1024);
        put(u + 20, file, 1024);
        put(u + 24, index, 4096);
        put(u + 32, restart, 4096);
        put(u + 40, std::vector<u8>(CAttrDefFileAnalyzer::Template().begin(), CAttrDefFileAnalyzer::Template().end()), 512);
        put(u + 42, upcase, 512);
        put(u + 44, page, 4096);
    }
    // Enough blocks for 500,000 of each (128 units a block).
    PatternDevice device(std::move(block), i64(ntfsdeep::kMaxListEntries / 128 + 8));
    CNTFSSearchController controller;
    controller.SetDevice(&device);
    controller.SetBlockSize(8192);
    controller.PreparetoSearch();
    const auto start = Clock::now();
    for (i64 at = 0; at < device.GetTotalSectors(); at += 8192) controller.AnalyzeBlock(at, 8192);
    const double s = Seconds(Clock::now() - start);
    const size_t mftInfos = controller.GetMFTInfos().size(), positions = controller.GetPositions().size();
    const size_t indexInfos = controller.GetIndexRecords().size();
    const size_t restarts = controller.GetLogFileAnalyzer()->Restarts().size();
    const size_t logInfos = controller.GetLogFileAnalyzer()->InfoCount();
    const size_t candidates = controller.GetPartitionInfoBuilder().Candidates().size();
    controller.EndSearch(1);
    dprintf(out,
            "seconds %.3f\nsectors %lld\nlists: $MFT %zu, $LogFile %zu, restart pages %zu, index blocks %zu, "
            "positions %zu, candidates %zu\n",
            s, static_cast<long long>(device.GetTotalSectors()), mftInfos, logInfos, restarts, indexInfos, positions,
            candidates);
    return 0;
}

// --- the whole benchmark -------------------------------------------------------------------------

std::string FixtureDisk(const std::filesystem::path& folder) {
    const auto disk = folder / "ntfs-disk.img";
    if (!std::filesystem::exists(disk)) {
        const std::string xz = std::string(BRELVOX_SOURCE_DIR) + "/tests/fixtures/ntfs-disk/disk.img.xz";
        if (std::system(("xz -dc '" + xz + "' > '" + disk.string() + "'").c_str()) != 0) return "";
    }
    return disk.string();
}

// Medians of `rounds` scans in children (the search, the listing, the teardown), with the peak memory
// of the last.
struct Timing {
    double seconds = -1;
    double listing = -1;
    double teardown = -1;
    long maxrssKiB = 0;
};
// The raw search alone and the raw and NTFS searches, one round of each after the other, and what the
// NTFS search adds: the median of the rounds' own ratios. The machine's speed drifts, by a third at times
// and for seconds at a time; the two runs of a round meet the same speed, the runs of separate rounds
// need not.
bool Scans(const std::string& image, const std::string& list, int rounds, Timing& raw, Timing& both, double& added) {
    struct Rounds {
        std::vector<double> seconds, listing, teardown;
    } of[2];
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        for (int m = 0; m < 2; ++m) {
            const char* mode = m == 0 ? "raw" : "both";
            const Child c = Run({Self(), "--once", mode, image, list});
            if (c.status != 0) {
                std::fprintf(stderr, "%s run failed:\n%s\n", mode, c.out.c_str());
                return false;
            }
            of[m].seconds.push_back(Value(c.out, "seconds"));
            of[m].listing.push_back(Value(c.out, "listing"));
            of[m].teardown.push_back(Value(c.out, "teardown"));
            (m == 0 ? raw : both).maxrssKiB = c.maxrssKiB;
        }
        if (of[0].seconds.back() > 0 && of[1].seconds.back() > 0)
            ratios.push_back(of[1].seconds.back() / of[0].seconds.back());
    }
    added = ratios.empty() ? -1 : Median(ratios) - 1;
    for (int m = 0; m < 2; ++m) {
        Timing& t = m == 0 ? raw : both;
        t.seconds = Median(of[m].seconds);
        t.listing = Median(of[m].listing);
        t.teardown = Median(of[m].teardown);
    }
    return true;
}

int Smoke(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    const std::string disk = FixtureDisk(folder);
    if (disk.empty()) return 1;
    const std::string list = (folder / "ntfs-deep-list.txt").string();
    Timing raw, both;
    double added = 0;
    Scans(disk, list, 1, raw, both, added);
    std::ifstream in(list);
    size_t ntfs = 0;
    for (std::string line; std::getline(in, line);) ntfs += line.rfind("35\t", 0) == 0;
    std::printf("smoke: %s: raw %.3f s, raw + NTFS %.3f s, %zu NTFS lines\n", disk.c_str(), raw.seconds, both.seconds, ntfs);
    const bool ok = raw.seconds > 0 && both.seconds > 0 && ntfs > 600;
    if (!ok) std::fprintf(stderr, "smoke run failed\n");
    return ok ? 0 : 1;
}

// Instructions of one scan under callgrind, whole process and in the NTFS searcher's block analysis.
deepbench::Counts Callgrind(const std::string& mode, const std::string& image, const std::filesystem::path& folder) {
    return deepbench::Callgrind({Self(), "--once", mode, image, (folder / "cg-list.txt").string()},
                                "CNTFSSearchController::AnalyzeBlock", (folder / ("cg-" + mode + ".out")).string());
}

int Full(const std::filesystem::path& folder, int rounds) {
    std::filesystem::create_directories(folder);
    const std::string image = (folder / "ntfs-deep-2G.img").string();
    if (!std::filesystem::exists(image)) {
        std::printf("making %s...\n", image.c_str());
        const std::string make = std::string(BRELVOX_BENCH_NTFS_DIR) + "/make-deep-image.sh '" + image + "' 100000 2G";
        if (std::system(make.c_str()) != 0) return 1;
    }
    const double bytes = double(std::filesystem::file_size(image));
    std::system(("cat '" + image + "' > /dev/null").c_str());  // page cache warm
    const std::string list = (folder / "ntfs-deep-list.txt").string();
    Timing raw, both;
    double added = 0;
    if (!Scans(image, list, rounds, raw, both, added)) return 1;
    std::ifstream in(list);
    size_t ntfs = 0;
    for (std::string line; std::getline(in, line);) ntfs += line.rfind("35\t", 0) == 0;

    // PhotoRec as bench/raw runs it (everything, paranoid).
    const Child photorec = deepbench::PhotoRec(image, folder);

    std::printf("%s: %.0f bytes, median of %d rounds (the two searches alternated); %zu NTFS lines in the listing\n", image.c_str(), bytes, rounds, ntfs);
    auto row = [&](const char* name, double s, long kib) {
        std::printf("  %-34s %8.2f s %8.1f MB/s %8.1f MiB peak\n", name, s, bytes / s / 1e6, double(kib) / 1024);
    };
    row("raw search alone (ScanSession)", raw.seconds, raw.maxrssKiB);
    row("raw + NTFS search (ScanSession)", both.seconds, both.maxrssKiB);
    if (photorec.status == 0) row("photorec everything, paranoid", photorec.wall, photorec.maxrssKiB);
    std::printf("  the NTFS search adds %.1f %% to the raw search alone, median of the rounds (target: at most 20 %%); "
                "%.1f %% between the medians above\n",
                100 * added, 100 * (both.seconds / raw.seconds - 1));
    std::printf("  after the search, the driver's listing takes %.3f s (raw alone %.3f s) and the session's teardown "
                "%.3f s (raw alone %.3f s)\n",
                both.listing, raw.listing, both.teardown, raw.teardown);
    if (photorec.status == 0)
        std::printf("  photorec / (raw + NTFS) = %.2f (> 1: the deep scan is faster)\n", photorec.wall / both.seconds);

    // Instructions per sector on the first 256 MiB (the first volume and raw content).
    const std::string slice = (folder / "ntfs-deep-256M.img").string();
    std::system(("dd if='" + image + "' of='" + slice + "' bs=1M count=256 status=none").c_str());
    const double sectors = double(std::filesystem::file_size(slice)) / 512;
    const deepbench::Counts cgRaw = Callgrind("raw", slice, folder), cgBoth = Callgrind("both", slice, folder);
    if (cgRaw.total > 0 && cgBoth.total > 0) {
        std::printf("callgrind, first 256 MiB: raw %.0f Ir/sector, raw + NTFS %.0f Ir/sector; the NTFS search "
                    "%.0f Ir/sector (its block analysis %.0f)\n",
                    cgRaw.total / sectors, cgBoth.total / sectors, (cgBoth.total - cgRaw.total) / sectors,
                    cgBoth.inFunction / sectors);
        // What the NTFS search adds, part by part: its end of search (records read again, the trees), the
        // listing of its lines and the session's teardown (both less the raw run's).
        auto part = [&](const char* mode, const char* function) {
            return std::max(0.0, deepbench::Inclusive((folder / ("cg-" + std::string(mode) + ".out")).string(), function));
        };
        const std::string listing = "scan::ScanSession::WriteList", teardown = "scan::ScanSession::~ScanSession";
        std::ifstream cgList(folder / "cg-list.txt");
        size_t cgLines = 0;
        for (std::string line; std::getline(cgList, line);) cgLines += line.rfind("35\t", 0) == 0;
        const double endSearch = part("both", "CNTFSSearchController::EndSearch");
        const double lines = part("both", listing.c_str()) - part("raw", listing.c_str());
        const double down = part("both", teardown.c_str()) - part("raw", teardown.c_str());
        std::printf("  the NTFS search's parts: block analysis %.1f M Ir, end of search %.1f M, listing its %zu lines "
                    "%.1f M (%.0f Ir/line), teardown %.1f M\n",
                    cgBoth.inFunction / 1e6, endSearch / 1e6, cgLines, lines / 1e6, cgLines ? lines / double(cgLines) : 0.0,
                    down / 1e6);
    } else {
        std::printf("callgrind: not run (valgrind missing?)\n");
    }

    const std::string disk = FixtureDisk(folder);
    const Child caps = Run({Self(), "--once", "caps", disk});
    std::printf("the NTFS searcher alone with its lists at their caps: %.1f MiB peak, %.1f s for %.0f virtual sectors\n%s",
                double(caps.maxrssKiB) / 1024, Value(caps.out, "seconds"), Value(caps.out, "sectors"),
                caps.out.substr(caps.out.find("lists:")).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--once") {
        const std::string mode = argv[2];
        if (mode == "caps" && argc == 4) return OnceCaps(argv[3]);
        if ((mode == "raw" || mode == "both") && argc == 5) return OnceScan(mode, argv[3], argv[4]);
        return 2;
    }
    if (argc >= 2 && std::string(argv[1]) == "--smoke")
        return Smoke(argc > 2 ? argv[2] : std::filesystem::temp_directory_path() / "ntfs-deep-smoke");
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    return Full(folder, std::max(1, argc > 2 ? std::atoi(argv[2]) : 3));
}
