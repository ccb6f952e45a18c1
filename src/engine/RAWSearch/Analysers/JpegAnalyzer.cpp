#include "engine/RAWSearch/Analysers/JpegAnalyzer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Util/RawUtility.h"

using BruteForce::RawUtility;

namespace {

constexpr u64 kNonExifCap = 0x1400000;  // 20 MiB
constexpr u32 kMaxExifVisits = 7;
constexpr int kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

bool IsFrameMarker(unsigned char code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

u16 BigEndian16(const unsigned char* p) { return static_cast<u16>((p[0] << 8) | p[1]); }

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool GetRawFileSizeForJpgNonJFIFFile(const unsigned char* start, const unsigned char* end, u64* scanOffset) {
    if (end - start < 4 || start[2] != 0xFF) return false;
    bool frameSeen = false;
    u64 offset = 2;
    for (int markers = 0; markers < 20479; ++markers) {
        if (static_cast<i64>(offset) + 4 > end - start) return false;
        const unsigned char* m = start + offset;
        if (m[0] != 0xFF) return false;
        if (m[1] == 0xFF) {  // a fill byte counts as a marker of length 0
            offset += 1;
            continue;
        }
        const u16 length = BigEndian16(m + 2);
        if (length < 2 || static_cast<i64>(offset) + 2 + length > end - start) return false;
        if (IsFrameMarker(m[1])) {
            if (length < 8 || m[4] != 8 || m[9] != 3) return false;
            frameSeen = true;
        } else if (m[1] == 0xDA) {
            if (!frameSeen || length < 3 || m[4] != 3) return false;
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

void JpegAnalyzer::JpegRawFileInfo::FindExifCameraInfo(unsigned char* data) {
    // data points at "Exif"; the segment length stands just before it, the TIFF header 6 bytes after.
    if (data + 14 > m_blockEnd) return;
    const u32 segmentLength = BigEndian16(data - 2);
    unsigned char* tiff = data + 6;
    bool little;
    if (memcmp(tiff, "II", 2) == 0) {
        little = true;
    } else if (memcmp(tiff, "MM", 2) == 0) {
        little = false;
    } else {
        return;
    }
    if (RawUtility::EXIF_Get16s(tiff + 2, little) != 42) return;
    const u32 first = static_cast<u32>(RawUtility::EXIF_Get32s(tiff + 4, little));
    if (first < 8 || first > 16) return;
    AnalyzeExifTag(tiff + 8, tiff, segmentLength, little);
}

void JpegAnalyzer::JpegRawFileInfo::AnalyzeExifTag(unsigned char* dir, unsigned char* tiff, u32 segmentLength,
                                                   bool little) {
    if (++m_exifVisits > kMaxExifVisits || m_walkStopped) return;
    if (dir + 2 > m_blockEnd) return;
    const u32 count = RawUtility::EXIF_Get16s(dir, little);
    if (count < 1 || count > 512 || count * 12 > segmentLength) return;
    bool makeSeenHere = false;
    u32 width = 0;
    for (u32 e = 0; e < count; ++e) {
        unsigned char* entry = dir + 2 + 12 * e;
        if (entry + 12 > m_blockEnd) return;
        const u16 tag = RawUtility::EXIF_Get16s(entry, little);
        const u16 format = RawUtility::EXIF_Get16s(entry + 2, little);
        const u32 components = static_cast<u32>(RawUtility::EXIF_Get32s(entry + 4, little));
        if (format > 12 || components < 1 || components > segmentLength) return;
        const u64 size = u64{components} * kFormatSize[format];
        unsigned char* value = entry + 8;
        const u32 valueOffset = static_cast<u32>(RawUtility::EXIF_Get32s(entry + 8, little));
        if (size >= 5) {
            if (u64{valueOffset} + size > segmentLength) return;
            if (tiff + valueOffset + size > m_blockEnd) return;  // beyond the data in memory
            value = tiff + valueOffset;
        }
        auto number = [&]() -> u32 {
            if (format == 3 || format == 8) return RawUtility::EXIF_Get16s(value, little);
            if (format == 1 || format == 6 || format == 2 || format == 7) return value[0];
            return static_cast<u32>(RawUtility::EXIF_Get32s(value, little));
        };
        auto text = [&](size_t most) {
            const size_t n = static_cast<size_t>(std::min<u64>(size, most));
            return std::string(reinterpret_cast<char*>(value), strnlen(reinterpret_cast<char*>(value), n));
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
            case 0x8769:
            case 0xA005: {
                const u32 offset = number();
                if (offset >= 1) {
                    m_headerEnd += u64{offset} + 0xA000;
                    if (!m_walkStopped && offset < segmentLength && tiff + offset < m_blockEnd) {
                        AnalyzeExifTag(tiff + offset, tiff, segmentLength, little);
                    }
                }
                break;
            }
            default: break;
        }
        if (m_walkStopped) return;
    }
    unsigned char* link = dir + 2 + 12 * count;
    if (m_walkStopped || link + 4 > m_blockEnd) return;
    const u32 next = static_cast<u32>(RawUtility::EXIF_Get32s(link, little));
    if (next != 0 && next < segmentLength && tiff + next < m_blockEnd) AnalyzeExifTag(tiff + next, tiff, segmentLength, little);
}

void JpegAnalyzer::JpegRawFileInfo::FindScanInfo(unsigned char* fileStart) {
    const i64 sectorEnd = (m_sectorNumber - m_startSector + 1) * m_sectorSize;
    while (m_walkOffset > 0 && m_walkOffset < sectorEnd) {
        unsigned char* m = fileStart + m_walkOffset;
        if (m + 4 > m_blockEnd) return;  // pause: the marker lies past the data in memory
        if (m[0] != 0xFF || m[1] < 0xC0 || m[1] == 0xFF) {
            m_walkOffset = 0;
            return;
        }
        if (m[1] == 0xD8) {
            m_walkOffset += 2;
            continue;
        }
        const u16 length = BigEndian16(m + 2);
        if (length < 2) {
            m_walkOffset = 0;
            return;
        }
        if (m[1] == 0xC0 && m + 9 <= m_blockEnd && m[4] == 8 && m_pixelEstimate == 0) {
            const u32 height = BigEndian16(m + 5);
            const u32 width = BigEndian16(m + 7);
            if (height >= 401) {
                m_pixelEstimate = u64{height} * width;
                m_headerEnd += m_pixelEstimate / 8;
            }
        } else if (m[1] == 0xE1 && m + 10 <= m_blockEnd && memcmp(m + 4, "Exif", 4) == 0) {
            FindExifCameraInfo(m + 4);
        }
        m_walkOffset += 2 + length;
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
        if (strncasecmp(reinterpret_cast<char*>(sector) + 6, "JFIF", 4) == 0) {
            if (sector + 28 <= m_blockEnd && memcmp(sector + 24, "Exif", 4) == 0 && sector[20] == 0xFF &&
                sector[21] == 0xE1) {
                FindExifCameraInfo(sector + 24);
            }
        } else if (strncasecmp(reinterpret_cast<char*>(sector) + 6, "Exif", 4) == 0) {
            m_exifFlag = 1;
            FindExifCameraInfo(sector + 6);
        }
        if (m_headerEnd <= 1024) m_walkOffset = 2;
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
