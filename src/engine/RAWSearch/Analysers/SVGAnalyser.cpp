#include "engine/RAWSearch/Analysers/SVGAnalyser.h"

#include <cstring>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Analysers/TextAnalysers.h"
#include "engine/RAWSearch/Core/NotifyCenter.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace svg_layout;

namespace {

constexpr unsigned char kBinaryMark[4] = {0xCD, 0x01, 0x00, 0x00};
constexpr char kDeclaration[] = "<?xml version=\"";  // 15 bytes
// "<svg" and a blank (CR LF, as Windows tools write it, included), or closed and a blank.
constexpr char kSvgOpeners[][7] = {"<svg ", "<svg\n", "<svg\r", "<svg\t", "<svg> ", "<svg>\n", "<svg>\r"};

bool Contains(const unsigned char* data, size_t length, const char* text) {
    return memmem(data, length, text, strlen(text)) != nullptr;
}

bool HasSvgOpener(const unsigned char* data, size_t length) {
    for (const char* opener : kSvgOpeners) {
        if (Contains(data, length, opener)) return true;
    }
    return false;
}

bool IsFamilyType(RAW_FILE_TYPE type) {
    return type == RAW_TYPE_SVG || type == RAW_TYPE_GPX || type == RAW_TYPE_PLIST || type == RAW_TYPE_CSL ||
           type == RAW_TYPE_ENEX;
}

// The length of the data before the zero bytes that end the sector.
u64 DataLength(const unsigned char* sector, u32 n) {
    while (n > 0 && sector[n - 1] == 0) --n;
    return n;
}

}  // namespace

FileSVGAnalyser::FileSVGAnalyser() : IRawFileAnalyser(RAW_TYPE_SVG) {}

int FileSVGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    if (EqualsNoCase(sector, "<?xml", 5) && EqualsNoCase(sector + kGpxAt[0], "<gpx", 4)) {
        info.m_type = RAW_TYPE_GPX;
        return 1;
    }
    if (memcmp(sector + kPlistAt[0], "<!DOCTYPE plist", 15) == 0) {
        info.m_type = RAW_TYPE_PLIST;
        return 1;
    }
    if (memcmp(sector, kDeclaration, sizeof(kDeclaration) - 1) != 0 ||
        !HasSvgOpener(sector, kFallbackOpenerSearch)) {
        return 0;
    }
    info.m_type = RAW_TYPE_SVG;
    info.m_size = 0;
    return 1;
}

bool FileSVGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr) return false;
    // Analysers outlive a search: the sector size is this device's, asked on every call.
    const u32 sectorSize = device->GetSectorSize();
    if (sectorSize < 2 || sectorSize > kRawMaxSectorSize) return false;
    const bool small = sectorSize <= kSmallSector;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_startSector));
    std::vector<unsigned char> pair(2 * size_t{sectorSize});
    auto read = [&](u64 index, unsigned char* out) {
        if (!small) return buffer.CopyOut(index * sectorSize, out, sectorSize);
        // The buffered reader takes whole 512-byte sectors only: small sectors are read one by one.
        if (CNotifyCenter::Instance().isContinue() == 0) return false;
        return device->ReadSector(out, info.m_startSector + static_cast<i64>(index), 1) != 0;
    };
    unsigned char* sector = pair.data();
    for (u64 index = 0; index * sectorSize < kDeviceCap; ++index) {
        if (!read(index, sector)) return false;
        if (sector[sectorSize - 1] != 0 || sector[sectorSize - 2] != 0) continue;
        u64 end = 0;
        if (!small) {
            // The file's bytes run to the sector's zero tail: none of them is left out.
            end = index * sectorSize + DataLength(sector, sectorSize);
        } else {
            static constexpr const char* kTags[] = {"\n</svg>", "</gpx>", "</plist>"};
            for (const char* tag : kTags) {
                const void* hit = memmem(sector, sectorSize, tag, strlen(tag));
                if (hit == nullptr) continue;
                end = index * sectorSize + static_cast<u64>(static_cast<const unsigned char*>(hit) - sector) +
                      kSmallSectorEndSlack;
                break;
            }
            if (end == 0) {
                // A tag across the sector's end: the 32 bytes from 16 before it.
                unsigned char* next = pair.data() + sectorSize;
                if (read(index + 1, next)) {
                    const unsigned char* tail = pair.data() + sectorSize - kSmallSectorTail;
                    for (const char* tag : kTags) {
                        if (memmem(tail, 2 * kSmallSectorTail, tag, strlen(tag)) != nullptr) {
                            end = (index + 1) * sectorSize;
                            break;
                        }
                    }
                }
            }
            if (end == 0) continue;
        }
        if (end == 0) return false;
        if (!IsFamilyType(info.m_type)) info.m_type = RAW_TYPE_SVG;
        info.m_size = end;
        return true;
    }
    return false;
}

namespace Brance {

SVGAnalyser::SVGAnalyser() : IRawFileAnalyser(RAW_TYPE_SVG) {}

int SVGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const bool xml = EqualsNoCase(sector, "<?xml", 5);
    if (!xml && EqualsNoCase(sector, "BCFZ", 4)) {
        info.m_type = RAW_TYPE_GPX;
        return 1;
    }
    if (xml) {
        for (size_t at : kGpxAt) {
            if (EqualsNoCase(sector + at, "<gpx", 4)) {
                info.m_type = RAW_TYPE_GPX;
                return 1;
            }
        }
        for (size_t at : kPlistAt) {
            if (EqualsNoCase(sector + at, "<!DOCTYPE plist", 15)) {
                info.m_type = RAW_TYPE_PLIST;
                return 1;
            }
        }
    }
    const size_t declaration = sizeof(kDeclaration) - 1;
    if (memcmp(sector, kDeclaration, declaration) == 0 || memcmp(sector + kBomLength, kDeclaration, declaration) == 0) {
        if (HasSvgOpener(sector, kOpenerSearch)) {
            info.m_type = RAW_TYPE_SVG;
            return 1;
        }
        if (Contains(sector, kOpenerSearch, "=\"Evernote")) {
            info.m_type = RAW_TYPE_ENEX;
            return 1;
        }
        if (Contains(sector, kOpenerSearch, "csl")) {
            info.m_type = RAW_TYPE_CSL;
            return 1;
        }
    }
    if (memcmp(sector, kBinaryMark, sizeof(kBinaryMark)) == 0 || memcmp(sector, "<svg ", 5) == 0) {
        info.m_type = RAW_TYPE_SVG;
        return 1;
    }
    return 0;
}

CRawFileInfo* SVGAnalyser::CreateRawFileInfo() { return new SVGRawFileInfo(&m_fallback); }

SVGRawFileInfo::SVGRawFileInfo(FileSVGAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_SVG; }

int SVGRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow window(sector, n, s, m_startSector, ctx);
    if (m_firstCall) {
        m_firstCall = false;
        m_binary = m_type == RAW_TYPE_SVG && memcmp(sector, kBinaryMark, sizeof(kBinaryMark)) == 0;
    }
    if (m_type == RAW_TYPE_GPX || m_type == RAW_TYPE_PLIST) return ListSize(sector, n, window.SectorStart(), ctx);
    if (m_binary) return BinarySize(window, s);
    return TextSize(sector, n, s, window);
}

// A GPX track or property list ends where its text runs into zeros, in the first sector that does.
int SVGRawFileInfo::ListSize(const unsigned char* sector, int n, i64 covered, const SearchContext& ctx) {
    if (covered > kMaxCovered) {
        m_size = static_cast<u64>(covered);
        return RAW_SIZE_FINISHED;
    }
    if (ctx.trailingZeroBytes < kListZeroTail) return RAW_SIZE_CONTINUE;
    // XML holds no zero byte: the file is its text up to the zero padding (the closing tag and the line
    // end after it).
    m_size = static_cast<u64>(covered + BruteForce::RawUtility::Binary_Compare(sector, n));
    return RAW_SIZE_FINISHED;
}

// The binary form's length lies at 1100, read once the bytes there are held.
int SVGRawFileInfo::BinarySize(const StreamWindow& window, long long s) {
    const auto length = window.Bytes(kBinaryLength, 4);
    if (!length) {
        if (kBinaryLength + 4 > window.End()) return RAW_SIZE_CONTINUE;
        m_size = 0;  // behind the window: cannot happen while sectors arrive in order
        return RAW_SIZE_FINISHED;
    }
    const u64 size = kBinaryHeader + *length->Le32(0);
    m_size = size <= static_cast<u64>(kMaxCovered) ? size : 0;
    if (m_size != 0) SetRawFileName(SectorSpanName(m_startSector, s, "_"));
    return RAW_SIZE_FINISHED;
}

// A text file ends in the first sector that runs into zeros and holds a closing "</" (or has one in
// the half sector before it).
int SVGRawFileInfo::TextSize(const unsigned char* sector, int n, long long s, const StreamWindow& window) {
    const i64 covered = window.SectorStart();
    if (covered >= kMaxCovered) {
        SetRawFileName(SectorSpanName(m_startSector, s, "_"));
        m_size = static_cast<u64>(kMaxCovered);
        return RAW_SIZE_FINISHED;
    }
    if (n < 2 || sector[n - 1] != 0 || sector[n - 2] != 0) return RAW_SIZE_CONTINUE;
    bool closing = memmem(sector, static_cast<size_t>(n), "</", 2) != nullptr;
    if (!closing) {
        const i64 half = n / 2;
        if (const auto around = window.Bytes(covered - half, static_cast<u64>(half + n))) {
            closing = memmem(around->data(), around->size(), "</", 2) != nullptr;
        }
    }
    if (!closing) return RAW_SIZE_CONTINUE;
    SetRawFileName(SectorSpanName(m_startSector, s, "_"));
    m_size = static_cast<u64>(covered + BruteForce::RawUtility::Binary_Compare(sector, n));
    return RAW_SIZE_FINISHED;
}

}  // namespace Brance

IRawFileAnalyser* CreateSVGAnalyser() { return new Brance::SVGAnalyser(); }
