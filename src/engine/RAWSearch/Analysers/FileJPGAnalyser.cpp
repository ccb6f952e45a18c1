#include "engine/RAWSearch/Analysers/FileJPGAnalyser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/JpegLayout.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Exif/ExifReader.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace {

constexpr u64 kJfifCap = 0x1A000000;
constexpr u64 kOtherCap = 0xD000000;
constexpr int kMaxMarkers = 20479;

}  // namespace

using namespace jpeg_layout;

int ApiIsInvalidCharInFileName(const std::string& text) {
    for (unsigned char c : text) {
        if (isalnum(c) != 0 || c == ' ' || c == ',' || c == '-' || c == '.' || c == '@' || c == '_') continue;
        return 1;
    }
    return 0;
}

bool IsJpegSignatureSector(const unsigned char* sector) {
    const char* identifier = reinterpret_cast<const char*>(sector) + kFirstIdentifier;
    if (strncasecmp(identifier, "JFIF", 4) == 0 || strncasecmp(identifier, "Exif", 4) == 0) {
        return true;
    }
    static constexpr unsigned char kDQT[4] = {0xFF, 0xD8, 0xFF, 0xDB};
    static constexpr unsigned char kAdobe[4] = {0xFF, 0xD8, 0xFF, 0xEE};
    return memcmp(sector, kDQT, 4) == 0 || memcmp(sector, kAdobe, 4) == 0;
}

int EndMarkerBeforeZeroTail(const unsigned char* sector, int length) {
    int last = length - 1;
    while (last >= 0 && sector[last] == 0) --last;
    if (last < 1 || sector[last] != 0xD9 || sector[last - 1] != 0xFF) return 0;
    return last + 1;
}

int FileJPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsJpegSignatureSector(sector)) return 0;
    info.m_type = RAW_TYPE_JPG;
    return 1;
}

bool ReadExifBlock(RawFileBuffer& window, u64 offset, tag_ExifInfo& exif) {
    exif = tag_ExifInfo{};
    // The segment's length field stands just before "Exif".
    unsigned char lengthBytes[2];
    if (offset < 2 || !window.CopyOut(offset - 2, lengthBytes, 2)) return false;
    const u32 segmentLength = ByteReader(lengthBytes, sizeof(lengthBytes)).Be16(0).value_or(0);
    if (segmentLength < 8) return false;
    // The bytes from "Exif" to the segment end, copied so the reader never runs past them.
    std::vector<unsigned char> block(segmentLength - 2);
    if (!window.CopyOut(offset, block.data(), block.size())) return false;
    SetExitInfo(&exif);
    const bool ok = EXIF_process_EXIF(nullptr, 0, block.data(), static_cast<unsigned>(block.size()));
    SetExitInfo(nullptr);
    (void)ok;  // fields read before an error are still used
    return true;
}

void FileJPGAnalyser::ReadExif(RawFileBuffer& window, u64 offset, CRawFileInfo& info) {
    tag_ExifInfo exif{};
    if (!ReadExifBlock(window, offset, exif)) return;
    std::string model(exif.cameraModel, strnlen(exif.cameraModel, sizeof(exif.cameraModel)));
    std::string make(exif.cameraMake, strnlen(exif.cameraMake, sizeof(exif.cameraMake)));
    m_name = model.find('<') != std::string::npos ? CleanRawFileName(make) : model;
    m_tagValue = m_name;
    m_tagKind = m_tagValue.empty() ? RAW_TAG_NONE : RAW_TAG_CAMERA;
    m_time.assign(exif.dateTime, strnlen(exif.dateTime, sizeof(exif.dateTime)));
    info.SetRawFileName(m_name);
    info.SetRawFileTime(m_time);
}

u64 FileJPGAnalyser::ScanForEnd(RawFileBuffer& window, u64 offset, u64 cap) {
    const u64 n = static_cast<u64>(m_sectorSize);
    bool previousEndsFF = false;
    u64 previousDataEnd = 0;  // just after an end marker that closed the previous sector's data, or 0
    while (offset < cap) {
        const u64 sectorStart = offset - offset % n;
        unsigned char* p = window.GetRawFileBuffer(sectorStart);
        if (p == nullptr) return offset;  // device end, read failure or cancel
        const u64 from = offset - sectorStart;
        const bool zeroTail = p[n - 1] == 0 && p[n - 2] == 0 && p[n - 3] == 0 && p[n - 4] == 0 && p[n - 5] == 0 &&
                              p[n - 6] == 0;
        if (previousEndsFF && from == 0 && p[0] == 0xD9 && p[1] == 0 && p[2] == 0 && p[3] == 0) {
            return sectorStart + 1;  // the marker's FF closed the previous sector
        }
        // A new photo begins right after the end marker: this one ended there, however few zeros followed.
        if (previousDataEnd != 0 && from == 0 && IsJpegSignatureSector(p)) return previousDataEnd;
        if (p[n - 2] == 0xFF && p[n - 1] == 0xD9) return sectorStart + n;
        if (zeroTail) {
            static constexpr unsigned char kEnd[2] = {0xFF, 0xD9};
            if (unsigned char* m = Apimemstr(p + from, static_cast<int>(n - from), kEnd, 2)) {
                return sectorStart + static_cast<u64>(m - p) + 2;
            }
        }
        previousEndsFF = p[n - 1] == 0xFF;
        const u64 after = static_cast<u64>(EndMarkerBeforeZeroTail(p, static_cast<int>(n)));
        previousDataEnd = after >= from + 2 ? sectorStart + after : 0;
        offset = sectorStart + n;
    }
    return cap;
}

bool FileJPGAnalyser::WalkAndScan(RawFileBuffer& window, Form form, CRawFileInfo& info) {
    const u64 formCap = form == Form::Jfif ? kJfifCap : kOtherCap;
    u64 offset = kFirstSegment;
    u32 width = 0, height = 0;
    bool frameSeen = false;
    for (int markers = 0; markers < kMaxMarkers; ++markers) {
        if (offset > formCap) {
            info.m_size = formCap;
            return true;
        }
        unsigned char bytes[kFrameHeaderEnd];
        if (!window.CopyOut(offset, bytes, sizeof(bytes))) return false;
        const ByteReader m(bytes, sizeof(bytes));
        if (m.U8(kMarker) != kMarkerByte) return false;
        const u8 code = *m.U8(kCode);
        if (code == kMarkerByte) {
            offset += kMarkerSize;
            continue;
        }
        const u32 length = *m.Be16(kLength);
        if (length < 2) return false;
        if (IsFrameMarker(code)) {
            const bool counts =
                form == Form::Plain || code == kSOF0 || (form == Form::Jfif && code == kSOF2 && !frameSeen);
            if (counts) {
                if (m.U8(kFramePrecision) != 8) return false;
                if (form == Form::Plain && m.U8(kFrameComponents) != 3) return false;
                height = *m.Be16(kFrameHeight);
                width = *m.Be16(kFrameWidth);
                frameSeen = true;
            }
        } else if (code == kSOS) {
            if (form == Form::Plain && (!frameSeen || m.U8(kScanComponents) != 3)) return false;
            const u64 afterHeader = offset + kMarkerSize + length;
            u64 cap = formCap;
            if (frameSeen && width != 0 && height != 0) cap = std::min<u64>(formCap, 3ULL * width * height);
            if (!frameSeen && form == Form::Jfif) cap = kJfifCap;
            info.m_size = ScanForEnd(window, afterHeader, cap);
            return info.m_size > 0;
        }
        offset += kMarkerSize + length;
    }
    return false;
}

bool FileJPGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    m_name.clear();
    m_time.clear();
    m_tagKind = RAW_TAG_NONE;
    m_tagValue.clear();
    if (device == nullptr) return false;
    m_sectorSize = device->GetSectorSize() == 0 ? 512 : device->GetSectorSize();
    if (m_sectorSize > static_cast<i64>(kRawMaxSectorSize)) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char head[32];
    if (!window.CopyOut(0, head, sizeof(head))) return false;
    const ByteReader start(head, sizeof(head));
    const char* identifier = reinterpret_cast<const char*>(head) + kFirstIdentifier;
    Form form = Form::Plain;
    if (strncasecmp(identifier, "JFIF", 4) == 0) {
        form = Form::Jfif;
    } else if (strncasecmp(identifier, "Exif", 4) == 0) {
        form = Form::Exif;
    }
    if (form == Form::Jfif) {
        if (!start.Equals(kFirstIdentifier, "JFIF") || start.U8(kFirstSegment) != kMarkerByte) return false;
        if (start.U8(kSecondSegment + kMarker) == kMarkerByte && start.U8(kSecondSegment + kCode) == kAPP1 &&
            start.Equals(kSecondIdentifier, "Exif")) {
            ReadExif(window, kSecondIdentifier, info);
        }
    } else if (form == Form::Exif) {
        ReadExif(window, kFirstIdentifier, info);
    }
    if (!WalkAndScan(window, form, info)) {
        info.m_size = 0;
        return false;
    }
    info.m_type = RAW_TYPE_JPG;
    return true;
}
