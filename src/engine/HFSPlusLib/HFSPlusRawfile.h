// A special file of an HFS+ volume (extents, catalog, attributes) read through its extents, and the
// catalog file held in memory.
#pragma once

#include <memory>
#include <vector>

#include "engine/HFSPlusLib/HFSPlusStructs.h"

class CHFSPlusVolume;

class CHFSPlusRawfile {
public:
    // Gathers the fork's extents (overflow records through the extents B-tree); failures go to the status.
    CHFSPlusRawfile(CHFSPlusVolume* volume, u32 fileID, const HFSPlusForkData& fork);
    virtual ~CHFSPlusRawfile() = default;
    CHFSPlusRawfile(const CHFSPlusRawfile&) = delete;
    CHFSPlusRawfile& operator=(const CHFSPlusRawfile&) = delete;

    // Bytes of the file from offset, through its extents; the count read (short on any failure, which
    // then is in the status).
    virtual u64 Read(u64 offset, u8* buffer, u64 size);

    u64 GetStatus() const { return m_status; }
    u32 GetFileID() const { return m_fileID; }
    const std::vector<HFSPlusExtentDescriptor>& Extents() const { return m_extents; }

protected:
    std::vector<HFSPlusExtentDescriptor> m_extents;
    u64 m_status;
    CHFSPlusVolume* m_volume = nullptr;
    u32 m_fileID = 0;
};

class CHFSPlusFileCache : public CHFSPlusRawfile {
public:
    static constexpr u64 kMaxCachedBytes = 0x10000000;  // 256 MiB

    // Reads up to kMaxCachedBytes of the file into memory once; without memory, or on a short read,
    // every read goes to the device.
    CHFSPlusFileCache(CHFSPlusVolume* volume, u32 fileID, const HFSPlusForkData& fork);

    u64 Read(u64 offset, u8* buffer, u64 size) override;
    u64 CachedSize() const { return m_cacheSize; }

private:
    // The file's bytes, read whole into a block of their own (no zero fill before the read).
    std::unique_ptr<u8[]> m_cache;
    u64 m_cacheSize = 0;
};
