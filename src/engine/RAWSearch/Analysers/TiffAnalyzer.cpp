#include "engine/RAWSearch/Analysers/TiffAnalyzer.h"

#include <algorithm>
#include <cstring>

#include "engine/RAWSearch/Analysers/TiffCommon.h"
#include "engine/RAWSearch/Analysers/TiffLayout.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace tiff_layout;

namespace {

// A first directory this far in is not followed while the search reads on.
constexpr i64 kFarFirstIFD = 0x400001;
// Beyond these extents a file keeps going through sectors whose end is not zero, and is sized to
// whole sectors.
constexpr i64 kLargeExtent = 0xA00001;
constexpr i64 kExactSizeLimit = 0xFFFFF;
constexpr i64 kMaxPixelEstimate = 0xC7FFFFF;
constexpr u32 kMinEstimateLength = 600;
constexpr u32 kMinEstimateWidth = 400;
// Directories examined in one sector by following links.
constexpr int kMaxChainInSector = 1024;
constexpr size_t kMaxModelLength = 63;

}  // namespace

namespace BruteForce {

TiffAnalyzer::TiffAnalyzer() : IRawFileAnalyser(RAW_TYPE_TIF), m_fallback(std::make_unique<FileTIFAnalyser>()) {}
TiffAnalyzer::~TiffAnalyzer() = default;

int TiffAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader head(sector, raf_layout::kMagicSize);
    bool accepted = false;
    if (head.Equals(0, "FUJI", 4)) {
        accepted = head.Equals(0, raf_layout::kMagic, raf_layout::kMagicSize);
    } else if (head.Equals(0, "MM", 2)) {
        accepted = head.Equals(2, "\x00\x2A", 2) || head.Equals(2, "OR", 2);
    } else if (head.Equals(0, "II", 2)) {
        accepted = head.Equals(2, "\x2A\x00", 2) || head.Equals(2, "\x55\x00", 2) || head.Equals(2, "RO", 2) ||
                   head.Equals(2, "RS", 2);
    }
    if (!accepted) return 0;
    info.m_type = RAW_TYPE_TIF;
    return 1;
}

CRawFileInfo* TiffAnalyzer::CreateRawFileInfo() { return new TiffRawFileInfo(m_fallback.get()); }

TiffAnalyzer::TiffRawFileInfo::TiffRawFileInfo(FileTIFAnalyser* fallback) : m_fallback(fallback) {
    m_type = RAW_TYPE_TIF;
}

void TiffAnalyzer::TiffRawFileInfo::WillBeRemove(unsigned char*, long long) { m_analyser = m_fallback; }

std::optional<ByteReader> TiffAnalyzer::TiffRawFileInfo::Values(const StreamWindow& w, const Entry& e,
                                                               const ByteReader& entry) const {
    if (e.byteLength <= kInlineSize) return entry.Sub(kValue, static_cast<size_t>(e.byteLength));
    return w.Bytes(e.value, e.byteLength);
}

std::optional<u32> TiffAnalyzer::TiffRawFileInfo::Element(const StreamWindow& w, const Entry& e,
                                                          const ByteReader& entry, u32 index) const {
    if (index >= e.count || e.width == 0 || e.width > 4) return std::nullopt;
    const u64 at = u64{index} * e.width;
    const std::optional<ByteReader> element =
        e.byteLength <= kInlineSize ? entry.Sub(kValue + static_cast<size_t>(at), e.width)
                                    : w.Bytes(static_cast<i64>(e.value + at), e.width);
    if (!element) return std::nullopt;
    if (e.width == 1) return element->U8(0);
    if (e.width == 2) return element->U16(0, m_order);
    return element->U32(0, m_order);
}

std::optional<std::string> TiffAnalyzer::TiffRawFileInfo::Text(const StreamWindow& w, const Entry& e,
                                                              const ByteReader& entry) const {
    Entry shortened = e;
    shortened.byteLength = std::min<u64>(e.byteLength, 63);
    if (e.byteLength <= kInlineSize) shortened.byteLength = e.byteLength;
    const std::optional<ByteReader> bytes = Values(w, shortened, entry);
    if (!bytes) return std::nullopt;
    return CameraText(*bytes);
}

void TiffAnalyzer::TiffRawFileInfo::AddPending(i64 offset) {
    if (offset <= 0 || offset > 0xFFFFFFFFLL) return;
    m_pendingIFDs.emplace(static_cast<u32>(offset), m_startSector + offset / m_sectorSize);
}

void TiffAnalyzer::TiffRawFileInfo::Queue(i64 offset, i64& lastQueued) {
    if (offset == 0) return;
    if (m_nextIFD == 0 || m_nextIFD < offset) m_nextIFD = offset;
    AddPending(offset);
    lastQueued = offset;
}

void TiffAnalyzer::TiffRawFileInfo::SetFileExt() {
    m_type = CameraRawType(m_make, m_model, m_dng, m_panasonicHeader, m_type);
}

void TiffAnalyzer::TiffRawFileInfo::CheckIFD(const StreamWindow& w, i64 offset) {
    m_visited.insert(offset);
    if (++m_ifdCount > kMaxIFDs) {
        m_abort = true;
        return;
    }
    m_currentIFD = offset;
    const std::optional<ByteReader> countBytes = w.Bytes(offset, 2);
    if (!countBytes) {
        m_abort = true;
        return;
    }
    const u32 count = *countBytes->U16(kEntryCount, m_order);
    const i64 held = w.End() - w.Begin();
    if (count == 0 || count > kMaxEntries || count > static_cast<u64>(held) / 6 / 2) {
        m_nextIFD = 0;  // not a directory
        return;
    }
    const u64 size = kEntries + u64{count} * kEntrySize + kLinkSize;
    const std::optional<ByteReader> ifd = w.Bytes(offset, size);
    if (!ifd) {
        // A directory that runs past the bytes held: the device fallback reads it.
        m_abort = true;
        m_nextIFD = 1;
        return;
    }
    m_ifdValid = true;
    Raise(offset + static_cast<i64>(size));
    i64 lastQueued = 0;
    for (u32 i = 0; i < count && !m_abort; ++i) {
        const ByteReader entry = *ifd->Sub(kEntries + i * kEntrySize, kEntrySize);
        Entry e{};
        e.tag = *entry.U16(kTag, m_order);
        e.width = TypeWidth(*entry.U16(kType, m_order));
        e.count = *entry.U32(kCount, m_order);
        e.value = *entry.U32(kValue, m_order);
        e.byteLength = u64{e.count} * e.width;
        if (e.byteLength > 0xFFFFFFFFULL) continue;  // a count x width past 32 bits is refused
        if (e.byteLength >= 5) Raise(static_cast<i64>(e.value + e.byteLength));
        if (e.width < 1 || e.width > 4) continue;
        // What the tags see as the entry's number: only long values are taken as they stand.
        const u32 number = e.width == 4 ? e.value : e.width == 2 ? static_cast<u32>(e.byteLength) : 0;
        Dispatch(w, e, number, lastQueued, entry);
    }
    SetFileExt();
    if (m_imageLength >= kMinEstimateLength && m_imageWidth >= kMinEstimateWidth) {
        m_pixelEstimate = static_cast<i64>(u64{m_imageWidth} * m_imageLength);
    }
    Raise(m_tileCandidate);
    const u32 link = *ifd->U32(kEntries + u64{count} * kEntrySize, m_order);
    if (link != 0) {
        m_nextIFD = link;
        AddPending(link);
    } else {
        m_nextIFD = lastQueued != 0 && m_nextIFD <= lastQueued ? lastQueued : 0;
    }
    if (m_abort) m_nextIFD = 1;
    Raise(m_nextIFD);
}

void TiffAnalyzer::TiffRawFileInfo::Dispatch(const StreamWindow& w, const Entry& e, u32 number, i64& lastQueued,
                                             const ByteReader& entry) {
    switch (e.tag) {
        case kTagPanasonicJpeg: Raise(static_cast<i64>(e.value + e.byteLength)); break;
        case kTagImageWidth: m_imageWidth = number; break;
        case kTagImageLength: m_imageLength = number; break;
        case kTagMake:
            if (!m_makeRead) {
                if (const auto text = Text(w, e, entry)) {
                    m_makeRead = true;
                    m_make = CleanCameraMake(*text);
                    if (!m_make.empty()) SetRawFileTagAndValue(RAW_TAG_CAMERA, m_make);
                }
            }
            break;
        case kTagModel:
            if (!m_modelRead) {
                if (const auto text = Text(w, e, entry)) {
                    m_modelRead = true;
                    m_model = CleanCameraModel(*text, kMaxModelLength);
                    if (m_make.empty() && !m_model.empty()) SetRawFileTagAndValue(RAW_TAG_CAMERA, m_model);
                }
            }
            break;
        case kTagStripOffsets:
        case kTagJpegOffset: {
            const bool strip = e.tag == kTagStripOffsets;
            bool& jpegAt = strip ? m_jpegAtStrip : m_jpegAtThumb;
            u32& pending = strip ? m_pendingStripOffset : m_pendingThumbOffset;
            jpegAt = false;
            pending = 0;
            u32 offset = 0;
            if (e.count == 1) {
                offset = number;
                if (const auto head = w.Bytes(offset, 4)) {
                    jpegAt = IsEmbeddedJpegStart(*head);
                } else {
                    pending = offset;  // checked when its sector arrives
                }
            } else if (e.count > 1) {
                const auto last = Element(w, e, entry, e.count - 1);
                if (!last) {
                    m_abort = true;
                    return;
                }
                offset = *last;
            }
            if (strip) {
                m_stripOffset = offset;
            } else {
                m_thumbOffset = offset;
            }
            break;
        }
        case kTagStripByteCounts:
        case kTagJpegLength: {
            const bool strip = e.tag == kTagStripByteCounts;
            u32 size = number;
            if (e.count > 1) {
                const auto last = Element(w, e, entry, e.count - 1);
                if (!last) {
                    m_abort = true;
                    return;
                }
                size = *last;
            } else if (e.count == 0) {
                break;
            }
            m_byteCountSeen = true;
            if (strip) m_stripByteCount = size;
            const i64 at = strip ? m_stripOffset : static_cast<i64>(m_thumbOffset);
            if (strip ? m_jpegAtStrip : m_jpegAtThumb) {
                m_thumbStart = at;
                m_thumbSize = size;
            }
            u32& pending = strip ? m_pendingStripOffset : m_pendingThumbOffset;
            if (pending != 0) {
                m_pendingThumbs[pending] = size;
                pending = 0;
            }
            // The extent never shrinks: bytes that other tags point to past the strip stay in the file.
            Raise(at + size);
            break;
        }
        case kTagDateTime:
            if (const auto text = Text(w, e, entry)) {
                if (text->size() >= 10 && text->size() <= 40) SetRawFileTime(*text);
            }
            break;
        case kTagTileOffsets:
            m_tileOffsets = {e.value, e.byteLength, e.width, e.count};
            Raise(static_cast<i64>(e.value + e.byteLength));
            break;
        case kTagTileByteCounts:
            m_tileByteCounts = {e.value, e.byteLength, e.width, e.count};
            if (e.byteLength == m_tileOffsets.byteLength && e.count == m_tileOffsets.count) {
                if (e.count == 1) {
                    m_tileCandidate = static_cast<i64>(m_tileOffsets.value) + number;
                } else if (e.count > 1) {
                    // An estimate of the tiles' end: about a kilobyte per tile past the byte counts.
                    m_tileCandidate = (static_cast<i64>(e.width) + 1024) * (e.count - 1) + e.value;
                }
            }
            break;
        case kTagSubIFDs: {
            const u32 subs = std::min(e.count, kMaxEntries);
            i64 last = 0;
            for (u32 i = 0; i < subs && !m_abort; ++i) {
                const std::optional<u32> sub = e.count == 1 ? std::optional<u32>(number) : Element(w, e, entry, i);
                if (!sub || *sub == 1 || !w.Holds(*sub, 2)) {
                    m_abort = true;
                    return;
                }
                if (m_visited.count(*sub) == 0) CheckIFD(w, *sub);
                last = *sub;
            }
            if (last != 0) Queue(last, lastQueued);
            break;
        }
        case kTagExifIFD:
            Raise(static_cast<i64>(e.value + e.byteLength));
            Queue(number, lastQueued);
            break;
        case kTagMakerNote:
            // A note of four bytes or fewer holds no directory.
            if (e.byteLength > kInlineSize) Queue(e.value, lastQueued);
            break;
        case kTagImageSourceData: Raise(static_cast<i64>(e.value + e.byteLength)); break;
        case kTagDNGVersion: m_dng = true; break;
        default: break;
    }
}

void TiffAnalyzer::TiffRawFileInfo::FollowChain(const StreamWindow& w, long long) {
    const i64 index = w.SectorIndex();
    if (m_nextIFD <= 0 || m_nextIFD / m_sectorSize != index) return;
    const i64 first = m_nextIFD;
    for (int steps = 0; steps < kMaxChainInSector && !m_abort; ++steps) {
        if (m_nextIFD <= 0 || m_nextIFD / m_sectorSize != index) break;
        if (m_visited.count(m_nextIFD) != 0) break;  // a loop: the link is judged below
        CheckIFD(w, m_nextIFD);
    }
    // A link back before the chain's first directory in this sector: the device fallback sizes it.
    if (m_nextIFD != 0 && m_nextIFD < first) m_abort = true;
}

void TiffAnalyzer::TiffRawFileInfo::ExaminePending(const StreamWindow& w, long long sectorNumber) {
    for (int guard = 0; guard < kMaxChainInSector && !m_abort; ++guard) {
        auto it = std::find_if(m_pendingIFDs.begin(), m_pendingIFDs.end(),
                               [&](const auto& p) { return p.second <= sectorNumber; });
        if (it == m_pendingIFDs.end()) break;
        const i64 offset = it->first;
        const bool here = it->second == sectorNumber;
        m_pendingIFDs.erase(it);  // one of a passed sector can no longer be read in order
        if (here && m_visited.count(offset) == 0) CheckIFD(w, offset);
    }
    const i64 index = w.SectorIndex();
    for (auto it = m_pendingThumbs.begin(); it != m_pendingThumbs.end();) {
        const i64 sectorOfThumb = it->first / m_sectorSize;
        if (sectorOfThumb > index) {
            ++it;
            continue;
        }
        if (sectorOfThumb == index) {
            const auto head = w.Bytes(it->first, 4);
            if (head && IsEmbeddedJpegStart(*head)) {
                m_thumbStart = it->first;
                m_thumbSize = it->second;
            }
        }
        it = m_pendingThumbs.erase(it);
    }
}

int TiffAnalyzer::TiffRawFileInfo::Finish(long long sectorNumber, u64 size) {
    m_size = size;
    if (size == 0) return RAW_SIZE_FINISHED;
    const std::string span = SectorSpanName(m_startSector, sectorNumber, "_");
    SetRawFileName(m_make.empty() ? m_model + "_" + span : m_make + "_" + m_model + "_" + span);
    return RAW_SIZE_FINISHED;
}

int TiffAnalyzer::TiffRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    if (s == m_startSector) {
        m_sectorSize = n;
        const ByteReader head(sector, static_cast<size_t>(n));
        if (head.Equals(0, kPanasonicHeader, sizeof(kPanasonicHeader))) {
            m_type = RAW_TYPE_PANASONIC_RAW;
            m_panasonicHeader = true;
            return Finish(s, 0);
        }
        if (head.Equals(0, raf_layout::kMagic, raf_layout::kMagicSize)) return Finish(s, 0);
        m_order = head.Equals(kByteOrder, "II", 2) ? ByteOrder::Little : ByteOrder::Big;
        const u32 first = head.U32(kFirstIFD, m_order).value_or(0);
        if (first >= static_cast<u32>(n)) {
            m_extent = first;
            if (first >= kFarFirstIFD) return Finish(s, 0);
            AddPending(first);
        }
        m_nextIFD = first;
    }
    if (n != m_sectorSize) return Finish(s, 0);

    FollowChain(w, s);
    ExaminePending(w, s);
    if (m_abort) return Finish(s, 0);

    if (!m_byteCountSeen && m_pixelEstimate > m_extent && m_pixelEstimate <= kMaxPixelEstimate) {
        m_extent = m_pixelEstimate;
    }
    // The end: a sector ending in zeros once the extent is covered (the zero tail of the last sector).
    const u32 z = ctx.trailingZeroBytes;
    const i64 index = w.SectorIndex();
    const i64 covered = w.SectorEnd();
    bool keep;
    if (z >= 16 && z < 32) {
        keep = true;
    } else if (z < 16) {
        keep = covered < m_extent || m_extent < kLargeExtent;
    } else {
        keep = covered <= m_extent;
    }
    if (keep) return RAW_SIZE_CONTINUE;
    u64 size = static_cast<u64>(covered);
    if (m_extent <= kExactSizeLimit && m_extent / n == index && m_type != RAW_TYPE_TIF) {
        size = static_cast<u64>(m_extent);
    }
    return Finish(s, size);
}

}  // namespace BruteForce

IRawFileAnalyser* CreateTiffAnalyzer() { return new BruteForce::TiffAnalyzer(); }
