// The signature search's end phase, timed in the driver's scan session: EndSearch sizes the records
// still without a size (given-up guesses, pending files) from the device. The raw searcher is wrapped
// so that its EndSearch is timed and what it holds then is counted; every other searcher runs as in the
// driver.
//
//   raw_end_phase IMAGE
//
// Prints: end phase S s, N leftover records, M starts in the file-sector map, scan W s
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "brelvox-scan/ScanSession.h"
#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RecoveryController/SearcherFactories.h"

namespace {

struct EndPhase {
    double seconds = -1;
    size_t leftover = 0;
    size_t starts = 0;
};
EndPhase g_phase;

class TimedRawSearcher : public ICompleteFileSystemSearchController {
public:
    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_raw.SetDirecotryTreeBuilder(builder); }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override {
        return m_raw.GetSearchedPartitionInfo(out, capacity);
    }
    void SetDevice(IStorageDevice* device) override { m_raw.SetDevice(device); }
    void SetBlockSize(int sectors) override { m_raw.SetBlockSize(sectors); }
    int PreparetoSearch() override { return m_raw.PreparetoSearch(); }
    int AnalyzeBlock(i64 first, i64 count) override { return m_raw.AnalyzeBlock(first, count); }
    void SetIProgressSink(IProgress* progress) override { m_raw.SetIProgressSink(progress); }
    void SetBitmap(TBitmap* bitmap) override { m_raw.SetBitmap(bitmap); }
    void SetFileSectorMap(FileSectorMap* map) override {
        m_map = map;
        m_raw.SetFileSectorMap(map);
    }
    TBitmap* GetBitmap() override { return m_raw.GetBitmap(); }
    bool SetActivePartition(bool active) override { return m_raw.SetActivePartition(active); }

    int EndSearch(int build) override {
        // The records the end phase goes through: those found and those still pending.
        g_phase.leftover = m_raw.FoundCount() + m_raw.PendingCount();
        const auto start = std::chrono::steady_clock::now();
        const int result = m_raw.EndSearch(build);
        g_phase.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Every start the search took, false ones included.
        g_phase.starts = m_map ? m_map->size() : 0;
        return result;
    }

private:
    CRAWSearchController m_raw;
    FileSectorMap* m_map = nullptr;
};

ICompleteFileSystemSearchController* CreateTimedRawSearcher() { return new TimedRawSearcher(); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: raw_end_phase IMAGE\n");
        return 2;
    }
    Searchers().raw = CreateTimedRawSearcher;
    scan::Options options;
    options.source = argv[1];
    std::string reason;
    double scan = -1;
    {
        scan::ScanSession session(options);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = session.Run(reason);
        scan = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!ok) {
            std::fprintf(stderr, "raw_end_phase: %s\n", reason.c_str());
            return 1;
        }
    }
    if (g_phase.seconds < 0) {
        std::printf("end phase: not seen\n");
        return 1;
    }
    std::printf("end phase %.2f s, %zu leftover records, %zu starts in the file-sector map, scan %.2f s\n",
                g_phase.seconds, g_phase.leftover, g_phase.starts, scan);
    return 0;
}
