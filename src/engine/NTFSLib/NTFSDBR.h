// The NTFS boot sector, and the NTFS member of the volume recognisers.
#pragma once

#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/IVolumeAnalyze.h"

class IStorageDevice;

class CNTFSDBR {
public:
    // Boot buffers are this large: devices with larger sectors are refused before anything is read.
    static constexpr u32 kMaxSectorSize = 4096;
    // File records outside this range are refused (a bogus byte 64 must not size a read).
    static constexpr u32 kMinRecordSize = 256;
    static constexpr u32 kMaxRecordSize = 4096;

    // Every rule of an NTFS boot sector holds (the sector is at least 512 bytes); false for null.
    static bool IsFullValidDBR(const u8* sector);
    // Only the OEM identifier is "NTFS    ".
    static bool IsValidDBR(const u8* sector);
    // Copies a fully valid sector; otherwise false and the old copy stays.
    bool InitFromBuffer(const u8* sector);

    i64 GetMFTStartCluster() const;
    i64 GetMFTMirrorStartCluster() const;
    i64 GetTotalSectors() const;
    i64 GetSerialNumber() const;
    u32 GetSectorsperCluster() const;
    // Sectors per cluster of the boot sector's byte 13: 1..128 as they stand (a power of two), a byte
    // above 0x80 as 2 to the power of (256 - byte) when that is above 128 (clusters above 64 KiB on
    // 512-byte sectors), up to clusters of ntfs::boot::kMaxClusterBytes; 0 for any other byte.
    static u32 DecodeSectorsPerCluster(u8 byte, u16 bytesPerSector);
    u16 GetBytesPerSector() const;
    // Bytes of one file record: 256..4096, else 0 (refused).
    u32 GetFileRecordSizeByByte() const;
    // The raw size rule of byte 64 (0 when the product overflows): 0xF6 -> 1024, 0 -> 1024,
    // n -> n x spc x bytes per sector.
    static u64 RecordSizeRule(u8 byte64, u32 sectorsPerCluster, u16 bytesPerSector);
    // The 8 bytes of the identifier; false when the held copy is not NTFS.
    bool GetFileSystemID(u64* out) const;

private:
    u8 m_sector[512] = {};
};

class CNTFSVolumeAnalyer : public IVolumeAnalyze {
public:
    explicit CNTFSVolumeAnalyer(i64 totalSectors) : m_totalSectors(totalSectors) {}
    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return FILE_SYSTEM_NTFS; }
    i64 GetTotalSector() override { return m_totalSectors; }
    // The label stays empty.
    void GetLabel(char* buffer, int length) override;

private:
    i64 m_totalSectors = 0;
};
