#include "engine/RAWSearch/Analysers/FileTIFAnalyser.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/RAWSearch/Analysers/FileJPGAnalyser.h"
#include "engine/RAWSearch/Analysers/TiffCommon.h"
#include "engine/RAWSearch/Analysers/TiffLayout.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Exif/ExifReader.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace tiff_layout;

namespace {

constexpr size_t kMaxModelLength = 40;
// Maker notes of Nikon cameras hold a TIFF header of their own: their directory lies 18 bytes in;
// Epson's lies 8 bytes in.
constexpr u64 kNikonNoteBase = 18;
constexpr u64 kEpsonNoteBase = 8;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

FileTIFAnalyser::FileTIFAnalyser() : IRawFileAnalyser(RAW_TYPE_TIF) {}

void FileTIFAnalyser::TIFFSwabShort(u16* value) { *value = static_cast<u16>(*value << 8 | *value >> 8); }
void FileTIFAnalyser::TIFFSwabLong(u32* value) { *value = __builtin_bswap32(*value); }

int FileTIFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr) return 0;
    if (memcmp(sector, "FUJI", 4) == 0 && memcmp(sector + 4, raf_layout::kMagic + 4, 12) != 0) return 0;
    info.m_type = RAW_TYPE_TIF;
    return 1;
}

void FileTIFAnalyser::GetRawFileTagAndValue(RAW_FILE_TAG& kind, std::string& value) {
    kind = m_tagKind;
    value = m_make;
}

void FileTIFAnalyser::GetThumbStartAndSize(u64& start, u64& size) {
    start = m_thumbStart;
    size = m_thumbSize;
}

void FileTIFAnalyser::InitTifAnalyser() {
    m_order = ByteOrder::Little;
    m_shift = 0;
    m_extent = 0;
    m_jpegStripOffset = m_jpegStripSize = 0;
    m_tileOffsets = m_tileByteCounts = Entry{};
    m_raf = m_dng = m_epson = m_panasonicHeader = m_thumbPending = false;
    m_rafEnd = 0;
    m_makeRead = m_modelRead = false;
    m_tagKind = RAW_TAG_CAMERA;
    m_make.clear();
    m_model.clear();
    m_thumbStart = m_thumbSize = 0;
    m_privateStart = m_privateLength = 0;
    m_subIFDVisits = 1;
}

bool FileTIFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    m_name.clear();
    m_time.clear();
    try {
        const u64 size = GetTiffSize(info, device);
        info.m_size = size;
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<u32> FileTIFAnalyser::ReadU32(RawFileBuffer& file, u64 offset) {
    unsigned char bytes[4];
    if (!file.CopyOut(offset, bytes, sizeof(bytes))) return std::nullopt;
    return ByteReader(bytes, sizeof(bytes)).U32(0, m_order);
}

bool FileTIFAnalyser::ReadIFD(RawFileBuffer& file, u64 offset, std::vector<Entry>& entries, u32& link) {
    unsigned char countBytes[2];
    if (offset > kMaxOffset + m_shift || !file.CopyOut(offset, countBytes, sizeof(countBytes))) return false;
    const u32 count = *ByteReader(countBytes, sizeof(countBytes)).U16(0, m_order);
    if (count == 0 || count > kMaxEntries) return false;
    std::vector<unsigned char> bytes(count * kEntrySize + kLinkSize);
    if (!file.CopyOut(offset + kEntries, bytes.data(), bytes.size())) return false;
    const ByteReader ifd(bytes.data(), bytes.size());
    entries.clear();
    for (u32 i = 0; i < count; ++i) {
        const ByteReader entry = *ifd.Sub(i * kEntrySize, kEntrySize);
        Entry e{};
        e.tag = *entry.U16(kTag, m_order);
        e.width = TypeWidth(*entry.U16(kType, m_order));
        e.count = *entry.U32(kCount, m_order);
        // A single short stands in the first two bytes of the value field, whatever the byte order.
        e.value = e.width == 2 && e.count == 1 ? *entry.U16(kValue, m_order) : *entry.U32(kValue, m_order);
        e.byteLength = u64{e.count} * e.width;
        entries.push_back(e);
    }
    link = *ifd.U32(count * kEntrySize, m_order);
    return true;
}

std::optional<u32> FileTIFAnalyser::Element(RawFileBuffer& file, const Entry& e, u32 index) {
    if (e.width == 0 || index >= e.count) return std::nullopt;
    if (e.count == 1) return e.value;
    const u64 at = u64{index} * e.width;
    unsigned char bytes[4];
    if (e.byteLength <= kInlineSize) {
        // Inline elements: the value field as stored.
        unsigned char field[4];
        ByteWriter(field, sizeof(field)).U32(0, e.value, m_order);
        memcpy(bytes, field + at, e.width);
    } else if (!file.CopyOut(e.value + m_shift + at, bytes, e.width)) {
        return std::nullopt;
    }
    const ByteReader r(bytes, e.width);
    if (e.width == 1) return *r.U8(0);
    if (e.width == 2) return *r.U16(0, m_order);
    if (e.width == 4) return *r.U32(0, m_order);
    return std::nullopt;
}

std::string FileTIFAnalyser::Text(RawFileBuffer& file, const Entry& e) {
    const u64 length = std::min<u64>(e.byteLength, 63);
    unsigned char bytes[63] = {};
    if (e.byteLength <= kInlineSize) {
        ByteWriter(bytes, sizeof(bytes)).U32(0, e.value, m_order);
    } else if (!file.CopyOut(e.value + m_shift, bytes, length)) {
        return {};
    }
    return CameraText(ByteReader(bytes, static_cast<size_t>(length)));
}

void FileTIFAnalyser::CalcFileSizeFromTiles(RawFileBuffer& file) {
    u64 end = 0;
    if (m_tileOffsets.count == 1) {
        end = u64{m_tileOffsets.value} + m_tileByteCounts.value;
    } else {
        // The last tile's offset and byte count, each from its own array.
        const auto offset = Element(file, m_tileOffsets, m_tileOffsets.count - 1);
        const auto bytes = Element(file, m_tileByteCounts, m_tileByteCounts.count - 1);
        if (!offset || !bytes) return;
        end = u64{*offset} + *bytes;
    }
    Raise(end + m_shift);
}

void FileTIFAnalyser::GetSubIFDSize(RawFileBuffer& file, u64 offset) {
    u64 previous = 0;
    std::vector<Entry> entries;
    while (m_subIFDVisits <= kMaxSubIFDVisits) {
        ++m_subIFDVisits;
        u32 link = 0;
        if (!ReadIFD(file, offset, entries, link)) return;
        ProcessEntries(file, entries);
        if (link == 0 || link <= previous) return;
        previous = link;
        Raise(link + m_shift);
        offset = link + m_shift;
    }
}

void FileTIFAnalyser::ProcessEntries(RawFileBuffer& file, const std::vector<Entry>& entries) {
    for (const Entry& e : entries) {
        if (e.byteLength > 0xFFFFFFFFULL) continue;  // a count x width past 32 bits is refused
        const u64 at = u64{e.value} + m_shift;
        if (e.byteLength >= 5) Raise(at + e.byteLength);
        switch (e.tag) {
            case kTagMake:
                if (!m_makeRead) {
                    m_makeRead = true;
                    m_make = CleanCameraMake(Text(file, e));
                    m_epson = m_make.find("EPSON") != std::string::npos;
                }
                break;
            case kTagModel:
                if (!m_modelRead) {
                    m_modelRead = true;
                    m_model = CleanCameraModel(Text(file, e), kMaxModelLength);
                }
                break;
            case kTagStripOffsets:
            case kTagJpegOffset: {
                const auto start = Element(file, e, e.count - 1);
                if (!start) break;
                m_jpegStripOffset = *start;
                unsigned char head[4];
                m_thumbPending = e.count == 1 && file.CopyOut(u64{*start} + m_shift, head, sizeof(head)) &&
                                 IsEmbeddedJpegStart(ByteReader(head, sizeof(head)));
                if (m_thumbPending) m_thumbStart = u64{*start} + m_shift;
                break;
            }
            case kTagStripByteCounts:
            case kTagJpegLength: {
                const auto size = Element(file, e, e.count - 1);
                if (!size) break;
                m_jpegStripSize = *size;
                if (m_thumbPending) {
                    m_thumbSize = *size;
                    m_thumbPending = false;
                }
                Raise(u64{m_jpegStripOffset} + m_shift + *size);
                break;
            }
            case kTagDateTime: m_time = Text(file, e); break;
            case kTagDateTimeOriginal:
                if (m_time.empty()) m_time = Text(file, e);
                break;
            case kTagTileOffsets: m_tileOffsets = e; break;
            case kTagTileByteCounts:
                m_tileByteCounts = e;
                if (m_tileOffsets.count != 0 && e.byteLength == m_tileOffsets.byteLength) CalcFileSizeFromTiles(file);
                break;
            case kTagSubIFDs:
                for (u32 i = 0; i < std::min(e.count, kMaxEntries) && m_subIFDVisits <= kMaxSubIFDVisits; ++i) {
                    const auto sub = Element(file, e, i);
                    if (sub) GetSubIFDSize(file, u64{*sub} + m_shift);
                }
                break;
            case kTagExifIFD: GetSubIFDSize(file, at); break;
            case kTagMakerNote: {
                const bool nikon = StartsWith(m_model, "NIKON") || StartsWith(m_make, "NIKON");
                GetSubIFDSize(file, at + (nikon ? kNikonNoteBase : m_epson ? kEpsonNoteBase : 0));
                break;
            }
            case kTagImageSourceData: Raise(at + e.byteLength); break;
            case kTagIptc:
                // Kodak's DCS Pro SLR stores a block here whose length is the u32 at the value.
                if (e.byteLength == 0 && m_make.find("KODAK") != std::string::npos &&
                    m_model.find("DCS Pro SLR") != std::string::npos) {
                    if (const auto length = ReadU32(file, at)) Raise(u64{*length} + at);
                }
                break;
            case kTagDNGVersion: m_dng = true; break;
            case kTagDNGPrivateData:
                // Sony's DSLR-A100 keeps a private block here: a u16 header length at 4, then a u32 block
                // length, then the block.
                if (StartsWith(m_model, "DSLR-A100")) {
                    unsigned char word[2];
                    if (!file.CopyOut(at + 4, word, sizeof(word))) break;
                    const u64 skip = *ByteReader(word, sizeof(word)).U16(0, m_order);
                    const auto length = ReadU32(file, at + skip + 4);
                    if (!length) break;
                    m_privateStart = at + skip + 8;
                    m_privateLength = *length;
                    Raise(m_privateStart + m_privateLength);
                }
                break;
            default: break;
        }
    }
}

bool FileTIFAnalyser::ReadRafHeader(RawFileBuffer& file) {
    using namespace raf_layout;
    unsigned char bytes[raf_layout::kHeaderSize];
    if (!file.CopyOut(0, bytes, sizeof(bytes))) return false;
    const ByteReader header(bytes, sizeof(bytes));
    const u32 jpegOffset = *header.Be32(kJpegOffset);
    const u32 jpegLength = *header.Be32(kJpegLength);
    if (jpegOffset > kMaxOffset || jpegLength > kMaxOffset) return false;
    tag_ExifInfo exif{};
    if (ReadExifBlock(file, u64{jpegOffset} + kJpegExif, exif)) {
        m_make = CleanCameraMake(std::string(exif.cameraMake, strnlen(exif.cameraMake, sizeof(exif.cameraMake))));
        m_model = CleanCameraModel(std::string(exif.cameraModel, strnlen(exif.cameraModel, sizeof(exif.cameraModel))),
                                   kMaxModelLength);
        m_time.assign(exif.dateTime, strnlen(exif.dateTime, sizeof(exif.dateTime)));
        m_makeRead = !m_make.empty();
        m_modelRead = !m_model.empty();
    }
    u64 end = u64{jpegOffset} + jpegLength;
    end = std::max<u64>(end, u64{*header.Be32(kCfaHeaderOffset)} + *header.Be32(kCfaHeaderLength));
    end = std::max<u64>(end, u64{*header.Be32(kCfaOffset)} + *header.Be32(kCfaLength));
    end += *header.Be32(kTrailerLength);
    m_rafEnd = end;
    return true;
}

u64 FileTIFAnalyser::RefineByZeroTail(RawFileBuffer& file, u64 size, u32 n) {
    auto zeroTail = [&](u64 sectorStart, bool& readable) {
        unsigned char tail[16];
        readable = file.CopyOut(sectorStart + n - sizeof(tail), tail, sizeof(tail));
        static constexpr unsigned char kZero[16] = {};
        return readable && memcmp(tail, kZero, sizeof(tail)) == 0;
    };
    bool readable = false;
    if (size < n || zeroTail(size - n, readable)) return size;
    for (u64 at = size; at < kZeroTailCap; at += n) {
        // The first sector that ends in zeros is the file's last, as the last sector of the size is when
        // it ends in zeros (taking the file to the sector before it would cut its last bytes).
        if (zeroTail(at, readable)) return std::min(at + n, kZeroTailCap);
        if (!readable) return at;
    }
    return kZeroTailCap;
}

u64 FileTIFAnalyser::GetTiffSize(CRawFileInfo& info, IStorageDevice* device) {
    InitTifAnalyser();
    if (device == nullptr) return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char head[raf_layout::kMagicSize];
    if (!file.CopyOut(0, head, sizeof(head))) return 0;
    RAW_FILE_TYPE unmatched = RAW_TYPE_TIF;
    if (memcmp(head, raf_layout::kMagic, raf_layout::kMagicSize) == 0) {
        m_raf = true;
        unmatched = RAW_TYPE_RAF;
        if (!ReadRafHeader(file)) return 0;
        m_shift = raf_layout::kTiffShift;
    }
    // The TIFF header: at the start, or in a RAF at the Exif block of its JPEG (walked only when there).
    unsigned char tiff[kHeaderSize];
    bool walk = file.CopyOut(m_shift, tiff, sizeof(tiff));
    const ByteReader header(tiff, sizeof(tiff));
    if (walk && m_raf) walk = header.Equals(0, "II*\0", 4) || header.Equals(0, "MM\0*", 4);
    if (walk) {
        m_order = header.Equals(kByteOrder, "MM", 2) ? ByteOrder::Big : ByteOrder::Little;
        m_panasonicHeader = !m_raf && header.Equals(0, kPanasonicHeader, 4);
        u32 previous = *header.U32(kFirstIFD, m_order);
        u64 offset = u64{previous} + m_shift;
        std::vector<Entry> entries;
        for (int ifds = 0; ifds < kMaxChain; ++ifds) {
            u32 link = 0;
            if (!ReadIFD(file, offset, entries, link)) break;
            ProcessEntries(file, entries);
            // Only the first directory of a RAF's Exif block belongs to the file's own data.
            if (m_raf || link == 0 || link <= previous) break;
            previous = link;
            Raise(u64{link} + m_shift);
            offset = u64{link} + m_shift;
        }
    }

    info.m_type = CameraRawType(m_make, m_model, m_dng, m_panasonicHeader, unmatched);
    if (!m_make.empty() && !m_model.empty()) {
        m_name = m_make + "_" + m_model;
    } else {
        m_name = !m_make.empty() ? m_make : m_model;
    }
    m_name = CleanRawFileName(m_name);
    m_tagKind = m_make.empty() ? RAW_TAG_NONE : RAW_TAG_CAMERA;
    info.SetRawFileName(m_name);
    info.SetRawFileTime(m_time);
    info.SetRawFileTagAndValue(m_tagKind, m_make);

    // A RAF's header gives its parts' offsets and lengths from the file's start: their furthest end is
    // the file's exact size.
    if (m_raf && m_rafEnd >= kSmallestExtent && m_rafEnd <= kLargestExtent) return m_rafEnd;
    u64 size = m_extent + (m_raf ? raf_layout::kTiffShift : 0);
    // Tags that point nowhere useful: the size is a guess, kept as the product has always given it.
    if (size < kSmallestExtent || size > kLargestExtent) size = kUnknownSize;
    const u32 n = file.GetSectorSize();
    size = (size + n - 1) / n * n;
    if (size < kZeroTailCheck) size = RefineByZeroTail(file, size, n);
    return size;
}
