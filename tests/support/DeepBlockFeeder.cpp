#include "support/DeepBlockFeeder.h"

#include <algorithm>

#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/RecoveryController/CompleteRecoveryController.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace testsupport {

DeepBlockFeeder::DeepBlockFeeder(ICompleteFileSystemSearchController& searcher, IStorageDevice& device,
                                 IDirecotryTreeBuilder* builder)
    : m_searcher(searcher), m_device(device), m_builder(builder) {}

i64 DeepBlockFeeder::BlockSectors() const {
    return m_blockSectors > 0 ? m_blockSectors : CCompleteRecoveryController::BlockSectors(m_device.GetSectorSize());
}

int DeepBlockFeeder::Prepare() {
    m_searcher.SetDevice(&m_device);
    m_searcher.SetBlockSize(int(BlockSectors()));
    if (m_builder) m_searcher.SetDirecotryTreeBuilder(m_builder);
    return m_searcher.PreparetoSearch();
}

int DeepBlockFeeder::Feed(i64 first, i64 count) { return m_searcher.AnalyzeBlock(first, count); }

i64 DeepBlockFeeder::FeedAll(i64 first) {
    const i64 block = BlockSectors();
    const i64 total = m_device.GetTotalSectors();
    i64 blocks = 0;
    for (i64 at = std::max<i64>(first, 0); at < total; at += block) {
        Feed(at, std::min(block, total - at));
        ++blocks;
    }
    return blocks;
}

int DeepBlockFeeder::End(int build) { return m_searcher.EndSearch(build); }

i64 DeepBlockFeeder::Run() {
    Prepare();
    const i64 blocks = FeedAll();
    End(1);
    return blocks;
}

}  // namespace testsupport
