#include "engine/NTFSLib/NTFSDBR.h"

#include <cstring>
#include <new>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

namespace {

constexpr char kOem[] = "NTFS    ";

ByteReader View(const u8* sector) { return ByteReader(sector, ntfs::boot::kSize); }

}  // namespace

bool CNTFSDBR::IsValidDBR(const u8* sector) {
    return sector && View(sector).Equals(ntfs::boot::kOemId, kOem, 8);
}

bool CNTFSDBR::IsFullValidDBR(const u8* sector) {
    using namespace ntfs::boot;
    if (!IsValidDBR(sector)) return false;
    const ByteReader b = View(sector);
    const u16 bps = b.Le16(kBytesPerSector).value_or(0);
    if (bps == 0 || (bps & 511) != 0) return false;
    if (b.Le16(kReservedSectors).value_or(1) != 0) return false;
    if (DecodeSectorsPerCluster(b.U8(kSectorsPerCluster).value_or(0), bps) == 0) return false;
    for (size_t at : kZeroFields) {
        if (b.U8(at).value_or(1) != 0) return false;
    }
    return b.U8(kEndMarker) == 0x55 && b.U8(kEndMarker + 1) == 0xAA;
}

bool CNTFSDBR::InitFromBuffer(const u8* sector) {
    if (!IsFullValidDBR(sector)) return false;
    std::memcpy(m_sector, sector, sizeof m_sector);
    return true;
}

i64 CNTFSDBR::GetMFTStartCluster() const { return i64(View(m_sector).Le64(ntfs::boot::kMftCluster).value_or(0)); }
i64 CNTFSDBR::GetMFTMirrorStartCluster() const {
    return i64(View(m_sector).Le64(ntfs::boot::kMirrorCluster).value_or(0));
}
i64 CNTFSDBR::GetTotalSectors() const { return i64(View(m_sector).Le64(ntfs::boot::kTotalSectors).value_or(0)); }
i64 CNTFSDBR::GetSerialNumber() const { return i64(View(m_sector).Le64(ntfs::boot::kSerialNumber).value_or(0)); }
u32 CNTFSDBR::GetSectorsperCluster() const {
    return DecodeSectorsPerCluster(View(m_sector).U8(ntfs::boot::kSectorsPerCluster).value_or(0), GetBytesPerSector());
}

u32 CNTFSDBR::DecodeSectorsPerCluster(u8 byte, u16 bytesPerSector) {
    if (byte == 0 || bytesPerSector == 0) return 0;
    if (byte <= 0x80) return (byte & (byte - 1)) == 0 ? byte : 0;
    // The exponent form serves the counts the byte cannot hold (above 128).
    const u32 shift = 256u - byte;
    if (shift < 8 || shift >= 32 || (u64{bytesPerSector} << shift) > ntfs::boot::kMaxClusterBytes) return 0;
    return u32{1} << shift;
}
u16 CNTFSDBR::GetBytesPerSector() const { return View(m_sector).Le16(ntfs::boot::kBytesPerSector).value_or(0); }

u64 CNTFSDBR::RecordSizeRule(u8 byte64, u32 sectorsPerCluster, u16 bytesPerSector) {
    if (byte64 & 0x80) return u64{1} << ((256 - byte64) % 32);
    if (byte64 == 0) return 1024;
    return u64{byte64} * sectorsPerCluster * bytesPerSector;
}

u32 CNTFSDBR::GetFileRecordSizeByByte() const {
    const u8 byte64 = View(m_sector).U8(ntfs::boot::kClustersPerRecord).value_or(0);
    const u64 size = RecordSizeRule(byte64, GetSectorsperCluster(), GetBytesPerSector());
    if (size < kMinRecordSize || size > kMaxRecordSize) return 0;
    return u32(size);
}

bool CNTFSDBR::GetFileSystemID(u64* out) const {
    if (!out || !IsValidDBR(m_sector)) return false;
    *out = View(m_sector).Le64(ntfs::boot::kOemId).value_or(0);
    return true;
}

void CNTFSVolumeAnalyer::GetLabel(char* buffer, int length) {
    if (buffer && length >= 1) buffer[0] = '\0';
}

IVolumeAnalyze* CreateNTFSVolumeAnalyze(IStorageDevice* device, u64 startSector) {
    if (!device) return nullptr;
    const u32 sectorSize = device->GetSectorSize();
    if (sectorSize < 512 || sectorSize > CNTFSDBR::kMaxSectorSize) return nullptr;
    std::vector<u8> sector(CNTFSDBR::kMaxSectorSize, 0);
    if (!device->ReadSector(sector.data(), i64(startSector), 1)) return nullptr;
    CNTFSDBR dbr;
    if (!dbr.InitFromBuffer(sector.data())) return nullptr;
    return new (std::nothrow) CNTFSVolumeAnalyer(dbr.GetTotalSectors());
}
