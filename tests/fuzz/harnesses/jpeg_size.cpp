// Sizing a JPEG from the device (the analyser the search falls back on): its markers walked, its Exif
// block read for the camera name and date, the end marker looked for; and the marker check of a JPEG
// without APP0/APP1 and the sector tests, on the same bytes. The input is the file from its first
// sector on (512-byte sectors, zeros after it).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "engine/RAWSearch/Analysers/FileJPGAnalyser.h"
#include "engine/RAWSearch/Analysers/JpegAnalyzer.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(128 * 1024) {
    const i64 sectors = static_cast<i64>((size + 511) / 512) + 8;
    fuzz::PiecesDevice device({{0, data, size}}, 512, sectors, STORAGE_DEVICE_DISK);

    FileJPGAnalyser analyser;
    CRawFileInfo info;
    info.m_startSector = 0;
    info.m_type = RAW_TYPE_JPG;
    analyser.GetRawFileSize(info, &device);
    const std::string name = analyser.GetRawFileName() + analyser.GetRawFileTime();
    RAW_FILE_TAG kind = RAW_TAG_NONE;
    std::string value;
    analyser.GetRawFileTagAndValue(kind, value);

    // The sector tests read one whole sector; the marker check reads the bytes up to the end only.
    u8 sector[512] = {};
    std::memcpy(sector, data, std::min<size_t>(size, sizeof sector));
    IsJpegSignatureSector(sector);
    EndMarkerBeforeZeroTail(sector, static_cast<int>(sizeof sector));
    auto exact = std::make_unique<unsigned char[]>(size);
    if (size != 0) std::memcpy(exact.get(), data, size);
    u64 scan = 0;
    if (GetRawFileSizeForJpgNonJFIFFile(exact.get(), exact.get() + size, &scan)) FUZZ_CHECK(scan < size);
}
