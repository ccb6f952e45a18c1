#include "engine/RAWSearch/Analysers/JpegAnalyzer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine/RAWSearch/Analysers/JpegLayout.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Exif/ExifLayout.h"
#include "engine/RAWSearch/Util/RawUtility.h"

using BruteForce::RawUtility;

namespace {

constexpr u64 kNonExifCap = 0x1400000;  // 20 MiB
constexpr u32 kMaxExifVisits = 7;

// The bytes in memory from `from` to the block's end.
ByteReader InMemory(const unsigned char* from, const unsigned char* blockEnd) {
    return ByteReader(from, from != nullptr && blockEnd > from ? static_cast<size_t>(blockEnd - from) : 0);
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool GetRawFileSizeForJpgNonJFIFFile(const unsigned char* start, const unsigned char* end, u64* scanOffset) {
    using namespace jpeg_layout;
    const ByteReader file = InMemory(start, end);
    if (file.size() < 4 || file.U8(kFirstSegment) != kMarkerByte) return false;
    bool frameSeen = false;
    u64 offset = kFirstSegment;
    for (int markers = 0; markers < 20479; ++markers) {
        if (!file.Has64(offset, kSegmentData)) return false;
        const ByteReader m = file.From(offset);
        if (m.U8(kMarker) != kMarkerByte) return false;
        const u8 code = *m.U8(kCode);
        if (code == kMarkerByte) {  // a fill byte counts as a marker of length 0
            offset += 1;
            continue;
        }
        const u16 length = *m.Be16(kLength);
        if (length < 2 || !m.Has(kMarkerSize, length)) return false;
        if (IsFrameMarker(code)) {
            if (length < 8 || m.U8(kFramePrecision) != 8 || m.U8(kFrameComponents) != 3) return false;
            frameSeen = true;
        } else if (code == kSOS) {
            if (!frameSeen || length < 3 || m.U8(kScanComponents) != 3) return false;
            if (scanOffset != nullptr) *scanOffset = offset;
            return true;
        }
        offset += 2u + length;
    }
    return false;
}

namespace BruteForce {

JpegAnalyzer::JpegAnalyzer() : IRawFileAnalyser(RAW_TYPE_JPG), m_fallback(std::make_unique<FileJPGAnalyser>()) {}
JpegAnalyzer::~JpegAnalyzer() = default;

int JpegAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsJpegSignatureSector(sector)) return 0;
    info.m_type = RAW_TYPE_JPG;
    return 1;
}

int JpegAnalyzer::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                  long long sectorNumber, long long, long long blockEndSector) {
    m_acceptedHeaderEnd = 0;
    if (strncasecmp(reinterpret_cast<char*>(sector) + 6, "JFIF", 4) == 0 ||
        strncasecmp(reinterpret_cast<char*>(sector) + 6, "Exif", 4) == 0) {
        info.m_type = RAW_TYPE_JPG;
        return 1;
    }
    static constexpr unsigned char kDQT[4] = {0xFF, 0xD8, 0xFF, 0xDB};
    static constexpr unsigned char kAdobe[4] = {0xFF, 0xD8, 0xFF, 0xEE};
    if (memcmp(sector, kDQT, 4) != 0 && memcmp(sector, kAdobe, 4) != 0) return 0;
    if (blockEndSector <= sectorNumber || sectorSize <= 0) return 0;
    const unsigned char* end = sector + (blockEndSector - sectorNumber) * sectorSize;
    u64 scan = 0;
    if (!GetRawFileSizeForJpgNonJFIFFile(sector, end, &scan)) return 0;
    m_acceptedHeaderEnd = scan;
    info.m_type = RAW_TYPE_JPG;
    return 1;
}

CRawFileInfo* JpegAnalyzer::CreateRawFileInfo() {
    auto* record = new JpegRawFileInfo(m_fallback.get(), m_acceptedHeaderEnd != 0 ? m_acceptedHeaderEnd : 1024);
    m_acceptedHeaderEnd = 0;
    return record;
}

JpegAnalyzer::JpegRawFileInfo::JpegRawFileInfo(FileJPGAnalyser* fallback, u64 headerEnd)
    : m_headerEnd(headerEnd), m_fallback(fallback) {
    m_type = RAW_TYPE_JPG;
}

void JpegAnalyzer::JpegRawFileInfo::WillBeRemove(unsigned char*, long long) { m_analyser = m_fallback; }

void JpegAnalyzer::JpegRawFileInfo::FindExifCameraInfo(const unsigned char* data) {
    using namespace exif_layout;
    // data points at "Exif"; the segment length stands just before it, the TIFF header 6 bytes after.
    if (data + kHeaderSize + kTiffHeaderSize > m_blockEnd) return;
    const u32 segmentLength = ByteReader(data - 2, 2).Be16(0).value_or(0);
    const unsigned char* tiffStart = data + kHeaderSize;
    const ByteReader tiff = InMemory(tiffStart, m_blockEnd);
    ByteOrder order;
    if (tiff.Equals(kByteOrder, "II")) {
        order = ByteOrder::Little;
    } else if (tiff.Equals(kByteOrder, "MM")) {
        order = ByteOrder::Big;
    } else {
        return;
    }
    if (tiff.U16(kMagic, order) != kTiffMagic) return;
    const u32 first = tiff.U32(kFirstDirectory, order).value_or(0);
    if (first < 8 || first > 16) return;
    AnalyzeExifTag(kTiffHeaderSize, tiff, segmentLength, order);
}

void JpegAnalyzer::JpegRawFileInfo::AnalyzeExifTag(u64 dirOffset, const ByteReader& tiff, u32 segmentLength,
                                                   ByteOrder order) {
    using namespace exif_layout;
    if (++m_exifVisits > kMaxExifVisits || m_walkStopped) return;
    const std::optional<u16> entryCount = tiff.U16(dirOffset + kEntryCount, order);
    if (!entryCount) return;
    const u32 count = *entryCount;
    if (count < 1 || count > 512 || count * kEntrySize > segmentLength) return;
    bool makeSeenHere = false;
    u32 width = 0;
    for (u32 e = 0; e < count; ++e) {
        const std::optional<ByteReader> entry = tiff.Sub(dirOffset + kEntries + u64{e} * kEntrySize, kEntrySize);
        if (!entry) return;
        const u16 tag = *entry->U16(kTag, order);
        const u16 format = *entry->U16(kFormat, order);
        const u32 components = *entry->U32(kComponents, order);
        if (format > kMaxFormat || components < 1 || components > segmentLength) return;
        const u64 size = u64{components} * FormatSize(format);
        ByteReader value = *entry->Sub(kValue, kInlineValueSize);
        const u32 valueOffset = *entry->U32(kValue, order);
        if (size > kInlineValueSize) {
            if (u64{valueOffset} + size > segmentLength) return;
            if (!tiff.Has64(valueOffset, size)) return;  // beyond the data in memory
            value = *tiff.Sub(valueOffset, static_cast<size_t>(size));
        }
        auto number = [&]() -> u32 {
            if (format == 3 || format == 8) return value.U16(0, order).value_or(0);
            if (format == 1 || format == 6 || format == 2 || format == 7) return value.U8(0).value_or(0);
            return value.U32(0, order).value_or(0);
        };
        auto text = [&](size_t most) {
            const size_t n = static_cast<size_t>(std::min<u64>(size, most));
            const char* chars = reinterpret_cast<const char*>(value.data());
            return std::string(chars, strnlen(chars, n));
        };
        switch (tag) {
            case 0x0001:
            case 0xA002: width = number(); break;
            case 0x0101:
            case 0xA003: {
                const u32 height = number();
                if (width != 0 && height >= 400) {
                    m_pixelEstimate = u64{width} * height;
                    m_headerEnd = m_pixelEstimate / 8;
                    m_walkStopped = true;
                    return;
                }
                break;
            }
            case 0x010F: {
                const std::string make = Upper(text(39));
                makeSeenHere = true;
                m_makeSeen = true;
                if (ApiIsInvalidCharInFileName(make) == 0) SetRawFileTagAndValue(RAW_TAG_CAMERA, make);
                break;
            }
            case 0x0110: {
                const std::string model = text(39);
                m_model = model;
                SetRawFileName(model);
                if (!makeSeenHere) {
                    const std::string upper = Upper(model);
                    if (ApiIsInvalidCharInFileName(upper) == 0) SetRawFileTagAndValue(RAW_TAG_CAMERA, upper);
                }
                break;
            }
            case 0x9003: SetRawFileTime(text(19)); break;
            case 0x0201:
            case 0x0202: m_headerEnd += number(); break;
            case kTagExifDirectory:
            case kTagInteroperabilityDirectory: {
                const u32 offset = number();
                if (offset >= 1) {
                    m_headerEnd += u64{offset} + 0xA000;
                    if (!m_walkStopped && offset < segmentLength && offset < tiff.size()) {
                        AnalyzeExifTag(offset, tiff, segmentLength, order);
                    }
                }
                break;
            }
            default: break;
        }
        if (m_walkStopped) return;
    }
    const std::optional<u32> next = tiff.U32(dirOffset + kEntries + u64{count} * kEntrySize, order);
    if (m_walkStopped || !next) return;
    if (*next != 0 && *next < segmentLength && *next < tiff.size()) AnalyzeExifTag(*next, tiff, segmentLength, order);
}

void JpegAnalyzer::JpegRawFileInfo::FindScanInfo(const unsigned char* fileStart) {
    using namespace jpeg_layout;
    const i64 sectorEnd = (m_sectorNumber - m_startSector + 1) * m_sectorSize;
    const ByteReader file = InMemory(fileStart, m_blockEnd);
    while (m_walkOffset > 0 && m_walkOffset < sectorEnd) {
        const ByteReader m = file.From(static_cast<size_t>(m_walkOffset));
        if (!m.Has(0, kSegmentData)) return;  // pause: the marker lies past the data in memory
        const u8 code = *m.U8(kCode);
        if (m.U8(kMarker) != kMarkerByte || code < 0xC0 || code == kMarkerByte) {
            m_walkOffset = 0;
            return;
        }
        if (code == kSOI) {
            m_walkOffset += kMarkerSize;
            continue;
        }
        const u16 length = *m.Be16(kLength);
        if (length < 2) {
            m_walkOffset = 0;
            return;
        }
        if (code == kSOF0 && m.Has(0, kFrameComponents) && m.U8(kFramePrecision) == 8 && m_pixelEstimate == 0) {
            const u32 height = *m.Be16(kFrameHeight);
            const u32 width = *m.Be16(kFrameWidth);
            if (height >= 401) {
                m_pixelEstimate = u64{height} * width;
                m_headerEnd += m_pixelEstimate / 8;
            }
        } else if (code == kAPP1 && m.Has(0, kApp1Identifier + 6) && m.Equals(kApp1Identifier, "Exif")) {
            FindExifCameraInfo(m.data() + kApp1Identifier);
        }
        m_walkOffset += kMarkerSize + length;
    }
}

int JpegAnalyzer::JpegRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    m_sector = sector;
    m_sectorNumber = s;
    m_sectorSize = n;
    m_blockEnd = sector + (ctx.blockEndSector - s) * n;
    const i64 index = s - m_startSector;
    // The file's first byte, when it still lies in the search's double buffer.
    const bool fileStartInBuffer = m_startSector >= ctx.bufferStartSector;
    unsigned char* fileStart = fileStartInBuffer ? sector - index * n : nullptr;

    if (index == 0) {
        using namespace jpeg_layout;
        const char* identifier = reinterpret_cast<const char*>(sector) + kFirstIdentifier;
        if (strncasecmp(identifier, "JFIF", 4) == 0) {
            if (sector + kSecondIdentifier + 4 <= m_blockEnd && memcmp(sector + kSecondIdentifier, "Exif", 4) == 0 &&
                sector[kSecondSegment + kMarker] == kMarkerByte && sector[kSecondSegment + kCode] == kAPP1) {
                FindExifCameraInfo(sector + kSecondIdentifier);
            }
        } else if (strncasecmp(identifier, "Exif", 4) == 0) {
            m_exifFlag = 1;
            FindExifCameraInfo(sector + kFirstIdentifier);
        }
        if (m_headerEnd <= 1024) m_walkOffset = kFirstSegment;
    }
    if (m_walkOffset > 0 && fileStart != nullptr && index == m_walkOffset / n) {
        FindScanInfo(fileStart);
    }

    // The end marker just before the zero padding of the file's last sector.
    const u32 z = ctx.trailingZeroBytes;
    const bool exif = m_exifFlag != 0;
    const u64 reached = static_cast<u64>(index) * static_cast<u64>(n);
    bool searched = false;
    int endInSector = -1;
    if ((exif && z >= 9 && reached > m_headerEnd) || (!exif && z >= 8)) {
        searched = true;
        static constexpr unsigned char kEnd[2] = {0xFF, 0xD9};
        const int after = RawUtility::FindMagicInBuffer(sector, n, static_cast<int>(z), kEnd, 2);
        if (after > 0 && after + 4 <= n && sector[after] == 0 && sector[after + 1] == 0 && sector[after + 2] == 0 &&
            sector[after + 3] == 0) {
            endInSector = after;
        } else if (m_lastSector == s - 1 && s - 1 >= ctx.bufferStartSector && index > 0) {
            const unsigned char* previous = sector - n;
            const bool fourZero = sector[1] == 0 && sector[2] == 0 && sector[3] == 0 && sector[4] == 0;
            const bool startZero = sector[0] == 0 && sector[1] == 0 && sector[2] == 0 && sector[3] == 0;
            if (previous[n - 1] == 0xFF && sector[0] == 0xD9 && fourZero) {
                endInSector = 1;  // the marker is split across the sector boundary
            } else if (previous[n - 2] == 0xFF && previous[n - 1] == 0xD9 && startZero) {
                endInSector = 0;  // the file ended exactly at the end of the previous sector
            }
        }
    }
    // The end marker followed by fewer zero bytes than the test above asks (1 to 7, up to the sector's
    // end): the entropy-coded data holds no FF D9, so past the header it is the end.
    if (endInSector < 0 && sector[n - 1] == 0 && (!exif || reached > m_headerEnd)) {
        const int after = EndMarkerBeforeZeroTail(sector, n);
        if (after > 0 && n - after < 8) endInSector = after;
    }
    // A new file starts at this sector: when the previous sector's data closed with the end marker, this
    // file ended there, however few zero bytes followed the marker; it never runs over the next file.
    // Within the header of an Exif file the marker may be a thumbnail's: then the device analyser, which
    // walks the segments, decides the size.
    int endInPrevious = -1;
    bool handOver = false;
    if (endInSector < 0 && ctx.newFileHere != nullptr && index > 0 && m_lastSector == s - 1 &&
        s - 1 >= ctx.bufferStartSector) {
        const int after = EndMarkerBeforeZeroTail(sector - n, n);
        if (after > 0 && (!exif || reached - static_cast<u64>(n) > m_headerEnd)) {
            endInPrevious = after;
        } else if (after > 0) {
            handOver = true;
        }
    }
    m_lastSector = s;
    if (handOver) {
        m_size = 0;
        return RAW_SIZE_FINISHED;
    }

    const u64 cap = exif ? m_cap : kNonExifCap;
    if (endInSector >= 0) {
        m_size = reached + static_cast<u64>(endInSector);
    } else if (endInPrevious > 0) {
        m_size = reached - static_cast<u64>(n) + static_cast<u64>(endInPrevious);
    } else if (m_pixelEstimate != 0 && reached > m_pixelEstimate) {
        m_size = reached + (searched ? 0 : static_cast<u64>(n) - z);
    } else if (reached > cap) {
        m_size = cap;
    } else {
        return RAW_SIZE_CONTINUE;
    }
    Finish(s);
    return RAW_SIZE_FINISHED;
}

void JpegAnalyzer::JpegRawFileInfo::Finish(long long s) {
    RAW_FILE_TAG kind;
    std::string tag;
    GetRawFileTagAndValue(kind, tag);
    std::string name = m_name;
    if (ApiIsInvalidCharInFileName(m_model) != 0 || ApiIsInvalidCharInFileName(name) != 0) {
        name.clear();
    } else if (ApiIsInvalidCharInFileName(tag) != 0) {
        tag.clear();
    }
    char numbers[64];
    snprintf(numbers, sizeof(numbers), "%lld-%lld", static_cast<long long>(m_startSector), s);
    std::string result;
    if (!tag.empty()) result += tag + "_";
    if (!name.empty()) result += name + "_";
    SetRawFileName(result + numbers);
    m_type = RAW_TYPE_JPG;
}

}  // namespace BruteForce

IRawFileAnalyser* CreateJpegAnalyzer() { return new BruteForce::JpegAnalyzer(); }
