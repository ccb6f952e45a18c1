#include "engine/RAWSearch/Exif/ExifReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Exif/ExifLayout.h"

namespace {

using namespace exif_layout;

// Nested directories read at most; deeper chains are hostile.
constexpr int kMaxNesting = 32;
// Directory entries read per block at most, each directory counting one more. A camera writes a few
// hundred; a hostile block can overlap directories or link them many times over.
constexpr u32 kEntryBudget = 4096;

struct ExifState {
    tag_ExifInfo* info = nullptr;
    tag_ExifInfo scratch{};  // filled when the caller registered no record
    ByteOrder order = ByteOrder::Little;
    ByteReader tiff;  // the TIFF data of the block being read
    int exifImageWidth = 0;
    const char* error = "";
    std::vector<u64> openDirectories;     // being read: a link back to one of them is a loop
    std::map<u64, bool> readDirectories;  // read in this block, with their result
    u32 budget = 0;
    std::vector<unsigned char> thumbnailCopy, commentCopy, makerNoteCopy;
};

thread_local ExifState g_exif;

void CopyText(char* out, size_t capacity, const ByteReader& value) {
    const size_t n = std::min(value.size(), capacity - 1);
    memset(out, 0, capacity);
    value.CopyTo(0, out, n);
    out[strnlen(out, n)] = 0;
}

const unsigned char* Keep(std::vector<unsigned char>& copy, bool wantCopy, const ByteReader& value) {
    if (!wantCopy) return value.data();
    copy.assign(value.data(), value.data() + value.size());
    return copy.data();
}

float InchesPerUnit(int code, float current) {
    switch (code) {
        case 1:
        case 2: return 1.0f;
        case 3: return 0.3937008f;
        case 4: return 0.03937008f;
        case 5: return 0.00003937008f;
        default: return current;
    }
}

// A value read from disk as an integer field: clamped to the field's range (NaN gives 0), never
// converted out of range.
template <typename T>
T Clamped(double v) {
    if (std::isnan(v)) return 0;
    const double lo = static_cast<double>(std::numeric_limits<T>::min());
    const double hi = static_cast<double>(std::numeric_limits<T>::max());
    return static_cast<T>(std::clamp(v, lo, hi));
}

// The first component of a value of the given format; 0 when it does not lie within the value's bytes.
double ConvertValue(const ByteReader& v, int format, ByteOrder order) {
    switch (format) {
        case 1: return v.U8(0).value_or(0);
        case 6: return static_cast<i8>(v.U8(0).value_or(0));
        case 3: return v.U16(0, order).value_or(0);
        case 8: return static_cast<i16>(v.U16(0, order).value_or(0));
        case 4: return v.U32(0, order).value_or(0);
        case 9: return static_cast<i32>(v.U32(0, order).value_or(0));
        case 5:
        case 10: {
            const auto num = v.U32(0, order);
            const auto den = v.U32(4, order);
            if (!num || !den || *den == 0) return 0;
            if (format == 5) return double(*num) / double(*den);
            return double(static_cast<i32>(*num)) / double(static_cast<i32>(*den));
        }
        case 11: {
            const auto bits = v.U32(0, order);
            if (!bits) return 0;
            float f;
            memcpy(&f, &*bits, sizeof(f));
            return f;
        }
        case 12: {
            const auto bits = v.U64(0, order);
            if (!bits) return 0;
            double d;
            memcpy(&d, &*bits, sizeof(d));
            return d;
        }
        default: return 0;
    }
}

bool ProcessDir(u64 dirOffset, int nesting);

// Reads the directory at offset from the TIFF header when it lies inside the data; false otherwise.
bool ProcessSubDir(u64 offset, int nesting) {
    if (offset >= g_exif.tiff.size()) {
        g_exif.error = "Illegal subdirectory link";
        return false;
    }
    return ProcessDir(offset, nesting + 1);
}

bool ReadDir(u64 dirOffset, int nesting);

// Each directory is read once per block: one reached again (by another link) answers as it did the first
// time, so links that join again cannot multiply the work.
bool ProcessDir(u64 dirOffset, int nesting) {
    auto& open = g_exif.openDirectories;
    if (std::find(open.begin(), open.end(), dirOffset) != open.end()) return false;  // a loop
    if (nesting > kMaxNesting) {
        g_exif.error = "Illegal subdirectory link";
        return false;
    }
    if (const auto read = g_exif.readDirectories.find(dirOffset); read != g_exif.readDirectories.end()) {
        return read->second;
    }
    open.push_back(dirOffset);
    const bool ok = ReadDir(dirOffset, nesting);
    open.pop_back();
    g_exif.readDirectories[dirOffset] = ok;
    return ok;
}

bool ReadDir(u64 dirOffset, int nesting) {
    const ByteReader& tiff = g_exif.tiff;
    const ByteOrder order = g_exif.order;
    const std::optional<u16> count = tiff.U16(dirOffset + kEntryCount, order);
    if (!count || !tiff.Has64(dirOffset + kEntries, u64{*count} * kEntrySize)) {
        g_exif.error = "Illegally sized directory";
        return false;
    }
    const u32 entries = *count;
    if (g_exif.budget < entries + 1) {
        g_exif.error = "Too many EXIF directory entries";
        return false;
    }
    g_exif.budget -= entries + 1;

    tag_ExifInfo& info = *g_exif.info;
    u32 thumbOffset = 0, thumbSize = 0;
    for (u32 e = 0; e < entries; ++e) {
        const ByteReader entry = *tiff.Sub(dirOffset + kEntries + u64{e} * kEntrySize, kEntrySize);
        const u16 tag = entry.U16(kTag, order).value_or(0);
        const u16 format = entry.U16(kFormat, order).value_or(0);
        const u32 components = entry.U32(kComponents, order).value_or(0);
        if (format < 1 || format > kMaxFormat) {
            g_exif.error = "Illegal format code in EXIF dir";
            return false;
        }
        // The value's own bytes, and nothing past them: in the entry when they fit there, else at their offset.
        const u64 byteCount = u64{components} * FormatSize(format);
        ByteReader value;
        if (byteCount > kInlineValueSize) {
            const u32 offset = entry.U32(kValue, order).value_or(0);
            if (!tiff.Has64(offset, byteCount)) {
                g_exif.error = "Illegal pointer offset value in EXIF.";
                return false;
            }
            value = *tiff.Sub(offset, static_cast<size_t>(byteCount));
        } else {
            value = *entry.Sub(kValue, static_cast<size_t>(byteCount));
        }
        const double number = ConvertValue(value, format, order);
        switch (tag) {
            case 0x010F: CopyText(info.cameraMake, sizeof(info.cameraMake), value); break;
            case 0x0110: CopyText(info.cameraModel, sizeof(info.cameraModel), value); break;
            case 0x9003: CopyText(info.dateTime, sizeof(info.dateTime), value); break;
            case 0x9004: CopyText(info.dateTimeDigitized, sizeof(info.dateTimeDigitized), value); break;
            case 0x9000: CopyText(info.version, sizeof(info.version), value); break;
            case 0x927C:
                info.makerNoteSize = static_cast<u32>(value.size());
                info.makerNote = Keep(g_exif.makerNoteCopy, info.options & EXIF_COPY_MAKER_NOTE, value);
                break;
            case 0x9286:
                info.userCommentSize = static_cast<u32>(value.size());
                info.userComment = Keep(g_exif.commentCopy, info.options & EXIF_COPY_USER_COMMENT, value);
                break;
            case 0x0112: {
                const int o = Clamped<int>(number);
                if (o < 1 || o > 8) {
                    g_exif.error = "Undefined rotation value";
                    info.orientation = 0;
                } else {
                    info.orientation = o;
                }
                break;
            }
            case 0x9209: info.flashUsed = (Clamped<int>(number) & 7) != 0 ? 1 : 0; break;
            case 0x920A: info.focalLength = static_cast<float>(number); break;
            case 0x829A: info.exposureTime = static_cast<float>(number); break;
            case 0x829D: info.apertureFNumber = static_cast<float>(number); break;
            case 0x9206: info.distance = static_cast<float>(number); break;
            case 0x9204: info.exposureBias = static_cast<float>(number); break;
            case 0x9208: info.lightSource = Clamped<int>(number); break;
            case 0x9207: info.meteringMode = Clamped<int>(number); break;
            case 0x8822: info.exposureProgram = Clamped<int>(number); break;
            case 0x8827: {
                int iso = Clamped<int>(number);
                if (iso < 50) iso = Clamped<int>(double(iso) * 200);
                info.isoEquivalent = iso;
                break;
            }
            case 0x9102: info.compressionLevel = static_cast<float>(number); break;
            case 0xA20E: info.focalPlaneXRes = static_cast<float>(number); break;
            case 0xA20F: info.focalPlaneYRes = static_cast<float>(number); break;
            case 0xA210: info.focalPlaneUnits = InchesPerUnit(Clamped<int>(number), info.focalPlaneUnits); break;
            case 0x011A: info.xResolution = static_cast<float>(number); break;
            case 0x011B: info.yResolution = static_cast<float>(number); break;
            case 0x0128: info.resolutionUnit = InchesPerUnit(Clamped<int>(number), info.resolutionUnit); break;
            case 0x9203: info.brightness = static_cast<float>(number); break;
            case 0xA002:
            case 0xA003: g_exif.exifImageWidth = std::max(g_exif.exifImageWidth, Clamped<int>(number)); break;
            case 0x0201: thumbOffset = Clamped<u32>(number); break;
            case 0x0202: thumbSize = Clamped<u32>(number); break;
            case kTagExifDirectory:
            case kTagInteroperabilityDirectory: {
                // The link is a long; a shorter value is read as the number it holds.
                std::optional<u32> link = value.U32(0, order);
                if (!link && !value.empty()) link = Clamped<u32>(number);
                if (!link) {
                    g_exif.error = "Illegal subdirectory link";
                    return false;
                }
                if (!ProcessSubDir(*link, nesting)) return false;
                break;
            }
            default: break;
        }
    }
    if (thumbOffset != 0 && thumbSize != 0) {
        if (const auto thumbnail = tiff.Sub(thumbOffset, thumbSize)) {
            info.thumbnailSize = thumbSize;
            info.thumbnail = Keep(g_exif.thumbnailCopy, info.options & EXIF_COPY_THUMBNAIL, *thumbnail);
        }
    }
    const u64 linkOffset = dirOffset + kEntries + u64{entries} * kEntrySize;
    if (const std::optional<u32> next = tiff.U32(linkOffset, order); next && *next != 0) {
        if (*next >= tiff.size()) {
            g_exif.error = "Illegal subdirectory link";
        } else {
            ProcessDir(*next, nesting + 1);  // the thumbnail directory
        }
    }
    return true;
}

}  // namespace

void SetExitInfo(tag_ExifInfo* info) { g_exif.info = info; }

void GetExifInfo(tag_ExifInfo* out) {
    if (out != nullptr && g_exif.info != nullptr) memcpy(out, g_exif.info, sizeof(tag_ExifInfo));
}

const char* EXIF_GetErrorString() { return g_exif.error; }

// The named readers of single values, in the byte order of the block last read; new code reads through
// a ByteReader over the block instead.
u16 EXIF_Get16u(const void* p) {
    return ByteReader(p, 2).U16(0, g_exif.order).value_or(0);
}

u32 EXIF_Get32u(const void* p) {
    return ByteReader(p, 4).U32(0, g_exif.order).value_or(0);
}

i32 EXIF_Get32s(const void* p) { return static_cast<i32>(EXIF_Get32u(p)); }

double EXIF_ConvertAnyFormat(const void* value, int format) {
    return ConvertValue(ByteReader(value, FormatSize(static_cast<u32>(format))), format, g_exif.order);
}

bool EXIF_process_EXIF(const unsigned char*, unsigned, unsigned char* exif, unsigned length) {
    if (g_exif.info == nullptr) g_exif.info = &g_exif.scratch;
    tag_ExifInfo& info = *g_exif.info;
    info.thumbnailSize = 0;
    info.makerNoteSize = 0;
    g_exif.exifImageWidth = 0;
    g_exif.openDirectories.clear();
    g_exif.readDirectories.clear();
    g_exif.budget = kEntryBudget;
    static constexpr unsigned char kHeader[kHeaderSize] = {'E', 'x', 'i', 'f', 0, 0};
    const ByteReader block(exif, exif != nullptr ? length : 0);
    if (!block.Equals(0, kHeader, sizeof(kHeader))) {
        g_exif.error = "Incorrect Exif header";
        return false;
    }
    const ByteReader tiff = block.From(kHeaderSize);
    if (tiff.size() < kTiffHeaderSize) {
        g_exif.error = "Invalid Exif alignment marker.";
        return false;
    }
    if (tiff.Equals(kByteOrder, "II")) {
        g_exif.order = ByteOrder::Little;
    } else if (tiff.Equals(kByteOrder, "MM")) {
        g_exif.order = ByteOrder::Big;
    } else {
        g_exif.error = "Invalid Exif alignment marker.";
        return false;
    }
    if (tiff.U16(kMagic, g_exif.order) != kTiffMagic) {
        g_exif.error = "Invalid Exif start (1)";
        return false;
    }
    const u32 first = tiff.U32(kFirstDirectory, g_exif.order).value_or(0);
    if (first < 8 || first - 8 >= 9) {
        g_exif.error = "Suspicious offset of first IFD value";
        return false;
    }
    g_exif.tiff = tiff;
    const bool ok = ProcessDir(kTiffHeaderSize, 0);
    g_exif.tiff = ByteReader();
    g_exif.readDirectories.clear();
    if (ok && info.focalPlaneXRes != 0) {
        info.ccdWidth = static_cast<float>(g_exif.exifImageWidth * info.focalPlaneUnits / info.focalPlaneXRes);
    }
    return ok;
}
