#include "engine/HFSPlusLib/HFSPlusRawfile.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "engine/Common/DebugChannel.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"

using namespace hfsplus;

CHFSPlusRawfile::CHFSPlusRawfile(CHFSPlusVolume* volume, u32 fileID, const HFSPlusForkData& fork)
    : m_status(kNotReady), m_volume(volume), m_fileID(fileID) {
    if (!volume) {
        m_status = HFSPLUS_FAIL(kKindNullArgument);
        return;
    }
    m_status = volume->WalkForkExtents(fileID, extkey::kDataFork, fork, false, [this](const HFSPlusExtentDescriptor& e) {
        m_extents.push_back(e);
        return true;
    });
}

u64 CHFSPlusRawfile::Read(u64 offset, u8* buffer, u64 size) {
    const HFSPlusVolumeHeader* header = m_volume ? m_volume->GetHeader() : nullptr;
    if (!header) {
        m_status = m_volume ? m_volume->GetStatus() : HFSPLUS_QUIET(kKindNullArgument);
        return 0;
    }
    if (m_extents.empty()) {
        m_status = HFSPLUS_QUIET(kKindNotReady);
        return 0;
    }
    const u64 blockSize = header->blockSize;
    u64 done = 0;
    u64 cellStart = 0;  // file byte at which the current extent begins
    auto fail = [&](u32 kind) {
        EngineDebug("Location:0x%llx Size:0x%llx\n", static_cast<unsigned long long>(offset),
                    static_cast<unsigned long long>(size));
        m_status = hfsplus::Code(static_cast<u16>(__LINE__), kind);
        return done;
    };
    if (blockSize == 0) return fail(kKindBadData);
    for (const HFSPlusExtentDescriptor& e : m_extents) {
        if (done >= size) break;
        const u64 length = u64(e.blockCount) * blockSize;
        const u64 at = offset + done;
        if (at < cellStart + length) {
            const u64 within = at - cellStart;
            const u64 take = std::min(length - within, size - done);
            const u64 volumeByte = u64(e.startBlock) * blockSize + within;
            const u64 got = m_volume->Read(volumeByte, buffer + done, take);
            done += got;
            if (got != take) return fail(kKindShortRead);
        }
        cellStart += length;
    }
    if (done < size) return fail(kKindBadData);
    m_status = 0;
    return done;
}

CHFSPlusFileCache::CHFSPlusFileCache(CHFSPlusVolume* volume, u32 fileID, const HFSPlusForkData& fork)
    : CHFSPlusRawfile(volume, fileID, fork) {
    if (result::IsFailure(m_status) || !volume) return;
    const u64 wanted = std::min<u64>(u64(volume->GetBlockSize()) * fork.totalBlocks, kMaxCachedBytes);
    if (wanted == 0) return;
    m_cache.reset(new (std::nothrow) u8[size_t(wanted)]);
    if (!m_cache) return;
    if (CHFSPlusRawfile::Read(0, m_cache.get(), wanted) != wanted) {
        m_cache.reset();
        m_status = 0;  // the file is still read, from the device
        return;
    }
    m_cacheSize = wanted;
}

u64 CHFSPlusFileCache::Read(u64 offset, u8* buffer, u64 size) {
    if (m_cacheSize == 0 || offset >= m_cacheSize) return CHFSPlusRawfile::Read(offset, buffer, size);
    const u64 take = std::min<u64>(m_cacheSize - offset, size);
    std::copy_n(m_cache.get() + offset, size_t(take), buffer);
    return take;
}
