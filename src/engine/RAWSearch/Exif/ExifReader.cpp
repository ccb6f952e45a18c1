#include "engine/RAWSearch/Exif/ExifReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kBytesPerFormat[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
// Nested directories read at most; deeper chains are hostile.
constexpr int kMaxNesting = 32;

struct ExifState {
    tag_ExifInfo* info = nullptr;
    bool motorola = false;
    int exifImageWidth = 0;
    const char* error = "";
    std::vector<const unsigned char*> openDirectories;
    std::vector<unsigned char> thumbnailCopy, commentCopy, makerNoteCopy;
};

thread_local ExifState g_exif;

void CopyText(char* out, size_t capacity, const unsigned char* value, u64 byteCount) {
    const size_t n = static_cast<size_t>(std::min<u64>(byteCount, capacity - 1));
    memset(out, 0, capacity);
    memcpy(out, value, n);
    out[strnlen(out, n)] = 0;
}

const unsigned char* Keep(std::vector<unsigned char>& copy, bool wantCopy, const unsigned char* value, u32 size) {
    if (!wantCopy) return value;
    copy.assign(value, value + size);
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

bool ProcessDir(const unsigned char* dir, const unsigned char* base, u64 length, int nesting);

// Reads the directory at offset from base when it lies inside the data; false otherwise.
bool ProcessSubDir(const unsigned char* base, u64 length, u32 offset, int nesting) {
    if (offset >= length) {
        g_exif.error = "Illegal subdirectory link";
        return false;
    }
    return ProcessDir(base + offset, base, length, nesting + 1);
}

bool ProcessDir(const unsigned char* dir, const unsigned char* base, u64 length, int nesting) {
    auto& open = g_exif.openDirectories;
    if (std::find(open.begin(), open.end(), dir) != open.end()) return false;  // a loop
    if (nesting > kMaxNesting) {
        g_exif.error = "Illegal subdirectory link";
        return false;
    }
    const u64 dirOffset = static_cast<u64>(dir - base);
    if (dirOffset + 2 > length) {
        g_exif.error = "Illegally sized directory";
        return false;
    }
    const u32 entries = EXIF_Get16u(dir);
    if (dirOffset + 2 + u64{entries} * 12 > length) {
        g_exif.error = "Illegally sized directory";
        return false;
    }
    open.push_back(dir);
    struct Closer {
        const unsigned char* d;
        ~Closer() {
            auto& o = g_exif.openDirectories;
            auto it = std::find(o.begin(), o.end(), d);
            if (it != o.end()) o.erase(it);
        }
    } closer{dir};

    tag_ExifInfo& info = *g_exif.info;
    u32 thumbOffset = 0, thumbSize = 0;
    for (u32 e = 0; e < entries; ++e) {
        const unsigned char* entry = dir + 2 + 12 * e;
        const u16 tag = EXIF_Get16u(entry);
        const u16 format = EXIF_Get16u(entry + 2);
        const u32 components = EXIF_Get32u(entry + 4);
        if (format < 1 || format > 12) {
            g_exif.error = "Illegal format code in EXIF dir";
            return false;
        }
        const u64 byteCount = u64{components} * kBytesPerFormat[format];
        const unsigned char* value = entry + 8;
        if (byteCount > 4) {
            const u32 offset = EXIF_Get32u(entry + 8);
            if (u64{offset} + byteCount > length) {
                g_exif.error = "Illegal pointer offset value in EXIF.";
                return false;
            }
            value = base + offset;
        }
        const double number = EXIF_ConvertAnyFormat(value, format);
        switch (tag) {
            case 0x010F: CopyText(info.cameraMake, sizeof(info.cameraMake), value, byteCount); break;
            case 0x0110: CopyText(info.cameraModel, sizeof(info.cameraModel), value, byteCount); break;
            case 0x9003: CopyText(info.dateTime, sizeof(info.dateTime), value, byteCount); break;
            case 0x9004: CopyText(info.dateTimeDigitized, sizeof(info.dateTimeDigitized), value, byteCount); break;
            case 0x9000: CopyText(info.version, sizeof(info.version), value, byteCount); break;
            case 0x927C:
                info.makerNoteSize = static_cast<u32>(byteCount);
                info.makerNote = Keep(g_exif.makerNoteCopy, info.options & EXIF_COPY_MAKER_NOTE, value,
                                      static_cast<u32>(byteCount));
                break;
            case 0x9286:
                info.userCommentSize = static_cast<u32>(byteCount);
                info.userComment = Keep(g_exif.commentCopy, info.options & EXIF_COPY_USER_COMMENT, value,
                                        static_cast<u32>(byteCount));
                break;
            case 0x0112: {
                const int o = static_cast<int>(number);
                if (o < 1 || o > 8) {
                    g_exif.error = "Undefined rotation value";
                    info.orientation = 0;
                } else {
                    info.orientation = o;
                }
                break;
            }
            case 0x9209: info.flashUsed = (static_cast<int>(number) & 7) != 0 ? 1 : 0; break;
            case 0x920A: info.focalLength = static_cast<float>(number); break;
            case 0x829A: info.exposureTime = static_cast<float>(number); break;
            case 0x829D: info.apertureFNumber = static_cast<float>(number); break;
            case 0x9206: info.distance = static_cast<float>(number); break;
            case 0x9204: info.exposureBias = static_cast<float>(number); break;
            case 0x9208: info.lightSource = static_cast<int>(number); break;
            case 0x9207: info.meteringMode = static_cast<int>(number); break;
            case 0x8822: info.exposureProgram = static_cast<int>(number); break;
            case 0x8827: {
                int iso = static_cast<int>(number);
                if (iso < 50) iso *= 200;
                info.isoEquivalent = iso;
                break;
            }
            case 0x9102: info.compressionLevel = static_cast<float>(number); break;
            case 0xA20E: info.focalPlaneXRes = static_cast<float>(number); break;
            case 0xA20F: info.focalPlaneYRes = static_cast<float>(number); break;
            case 0xA210: info.focalPlaneUnits = InchesPerUnit(static_cast<int>(number), info.focalPlaneUnits); break;
            case 0x011A: info.xResolution = static_cast<float>(number); break;
            case 0x011B: info.yResolution = static_cast<float>(number); break;
            case 0x0128: info.resolutionUnit = InchesPerUnit(static_cast<int>(number), info.resolutionUnit); break;
            case 0x9203: info.brightness = static_cast<float>(number); break;
            case 0xA002:
            case 0xA003: g_exif.exifImageWidth = std::max(g_exif.exifImageWidth, static_cast<int>(number)); break;
            case 0x0201: thumbOffset = static_cast<u32>(number); break;
            case 0x0202: thumbSize = static_cast<u32>(number); break;
            case 0x8769:
            case 0xA005:
                if (!ProcessSubDir(base, length, EXIF_Get32u(value), nesting)) return false;
                break;
            default: break;
        }
    }
    if (thumbOffset != 0 && thumbSize != 0 && u64{thumbOffset} + thumbSize <= length) {
        info.thumbnailSize = thumbSize;
        info.thumbnail =
            Keep(g_exif.thumbnailCopy, info.options & EXIF_COPY_THUMBNAIL, base + thumbOffset, thumbSize);
    }
    const u64 linkOffset = dirOffset + 2 + u64{entries} * 12;
    if (linkOffset + 4 <= length) {
        const u32 next = EXIF_Get32u(dir + 2 + 12 * entries);
        if (next != 0) {
            if (next >= length) {
                g_exif.error = "Illegal subdirectory link";
            } else {
                ProcessDir(base + next, base, length, nesting + 1);  // the thumbnail directory
            }
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

u16 EXIF_Get16u(const void* p) {
    const auto* b = static_cast<const unsigned char*>(p);
    return g_exif.motorola ? static_cast<u16>((b[0] << 8) | b[1]) : static_cast<u16>((b[1] << 8) | b[0]);
}

u32 EXIF_Get32u(const void* p) {
    const auto* b = static_cast<const unsigned char*>(p);
    return g_exif.motorola ? (u32{b[0]} << 24) | (u32{b[1]} << 16) | (u32{b[2]} << 8) | b[3]
                           : (u32{b[3]} << 24) | (u32{b[2]} << 16) | (u32{b[1]} << 8) | b[0];
}

i32 EXIF_Get32s(const void* p) { return static_cast<i32>(EXIF_Get32u(p)); }

double EXIF_ConvertAnyFormat(const void* value, int format) {
    const auto* b = static_cast<const unsigned char*>(value);
    switch (format) {
        case 1: return b[0];
        case 6: return static_cast<i8>(b[0]);
        case 3: return EXIF_Get16u(b);
        case 8: return static_cast<i16>(EXIF_Get16u(b));
        case 4: return EXIF_Get32u(b);
        case 9: return EXIF_Get32s(b);
        case 5:
        case 10: {
            const double num = format == 5 ? double(EXIF_Get32u(b)) : double(EXIF_Get32s(b));
            const double den = format == 5 ? double(EXIF_Get32u(b + 4)) : double(EXIF_Get32s(b + 4));
            return den == 0 ? 0 : num / den;
        }
        case 11: {
            float f;
            u32 bits = EXIF_Get32u(b);
            memcpy(&f, &bits, 4);
            return f;
        }
        case 12: {
            double d;
            u64 bits = g_exif.motorola ? (u64{EXIF_Get32u(b)} << 32) | EXIF_Get32u(b + 4)
                                       : (u64{EXIF_Get32u(b + 4)} << 32) | EXIF_Get32u(b);
            memcpy(&d, &bits, 8);
            return d;
        }
        default: return 0;
    }
}

bool EXIF_process_EXIF(const unsigned char*, unsigned, unsigned char* exif, unsigned length) {
    static tag_ExifInfo scratch;
    if (g_exif.info == nullptr) g_exif.info = &scratch;
    tag_ExifInfo& info = *g_exif.info;
    info.thumbnailSize = 0;
    info.makerNoteSize = 0;
    g_exif.exifImageWidth = 0;
    g_exif.openDirectories.clear();
    static constexpr unsigned char kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (exif == nullptr || length < 6 || memcmp(exif, kHeader, 6) != 0) {
        g_exif.error = "Incorrect Exif header";
        return false;
    }
    const u64 dataLength = length - 6;
    const unsigned char* tiff = exif + 6;
    if (dataLength < 8) {
        g_exif.error = "Invalid Exif alignment marker.";
        return false;
    }
    if (memcmp(tiff, "II", 2) == 0) {
        g_exif.motorola = false;
    } else if (memcmp(tiff, "MM", 2) == 0) {
        g_exif.motorola = true;
    } else {
        g_exif.error = "Invalid Exif alignment marker.";
        return false;
    }
    if (EXIF_Get16u(tiff + 2) != 0x2A) {
        g_exif.error = "Invalid Exif start (1)";
        return false;
    }
    const u32 first = EXIF_Get32u(tiff + 4);
    if (first < 8 || first - 8 >= 9) {
        g_exif.error = "Suspicious offset of first IFD value";
        return false;
    }
    const bool ok = ProcessDir(tiff + 8, tiff, dataLength, 0);
    if (ok && info.focalPlaneXRes != 0) {
        info.ccdWidth = static_cast<float>(g_exif.exifImageWidth * info.focalPlaneUnits / info.focalPlaneXRes);
    }
    return ok;
}
