#include "engine/RAWSearch/Util/RawUtility.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "engine/Common/ByteReader.h"

namespace BruteForce {

i32 RawUtility::EXIF_Get32s(const unsigned char* p, bool littleEndian) {
    const ByteOrder order = littleEndian ? ByteOrder::Little : ByteOrder::Big;
    return static_cast<i32>(ByteReader(p, 4).U32(0, order).value_or(0));
}

u16 RawUtility::EXIF_Get16s(const unsigned char* p, bool littleEndian) {
    const ByteOrder order = littleEndian ? ByteOrder::Little : ByteOrder::Big;
    return ByteReader(p, 2).U16(0, order).value_or(0);
}

int RawUtility::FindMagicInBuffer(const unsigned char* buffer, int length, int skip, const unsigned char* magic,
                                  int magicLength) {
    if (buffer == nullptr || magic == nullptr || magicLength < 1) return 0;
    // A zero byte never starts a match, and a match lies wholly inside the buffer: the last candidate
    // start is the smaller of length - skip and length - magicLength (nothing at or past the end is read).
    if (length - skip < 0 || magic[0] == 0) return 0;
    int last = std::min(length - skip, length - magicLength);
    // Open guesses run this over every sector they see, mostly zeros or data without the marker: a
    // vectorised backward byte search keeps that cheap.
    while (last >= 0) {
        const void* hit = memrchr(buffer, magic[0], static_cast<size_t>(last) + 1);
        if (hit == nullptr) return 0;
        const int i = static_cast<int>(static_cast<const unsigned char*>(hit) - buffer);
        if (memcmp(buffer + i + 1, magic + 1, static_cast<size_t>(magicLength - 1)) == 0) return i + magicLength;
        last = i - 1;
    }
    return 0;
}

int RawUtility::Binary_Compare(const unsigned char* buffer, int length) {
    auto zeroFrom = [&](int from) {
        for (int i = from; i < length; ++i) {
            if (buffer[i] != 0) return false;
        }
        return true;
    };
    if (buffer == nullptr || length <= 0 || zeroFrom(0)) return 0;
    // A non-zero byte lies in [lo, hi) and everything from hi on is zero: when they meet, the last
    // non-zero byte is at lo and the data is hi bytes long.
    int lo = 0, hi = length;
    while (lo < hi - 1) {
        const int mid = lo + (hi - lo) / 2;
        if (zeroFrom(mid)) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return hi;
}

std::string RawUtility::GetFileExtWithType(int type) {
    static const std::map<int, std::string> kExt = {
        {23, "doc"}, {71, "xls"},  {52, "ppt"},  {73, "docx"}, {74, "xlsx"}, {75, "pptx"}, {123, "odt"},
        {124, "ods"}, {125, "odp"}, {110, "pages"}, {111, "key"}, {112, "numbers"}, {114, "epub"}, {50, "pdf"},
        {2, "3gp"},  {6, "asf"},  {8, "wmv"},  {10, "avi"},  {42, "mov"},  {44, "mp4"},  {46, "m4v"},
        {90, "flv"}, {94, "rm"},  {95, "rmvb"}, {96, "mkv"},  {109, "mpg"}, {129, "m2ts"}, {142, "mxf"},
        {77, "nef"}, {83, "cr2"}, {84, "sr2"}, {85, "arw"},  {87, "rw2"},  {88, "dng"},  {89, "raf"},
        {97, "dcr"}, {98, "kdc"}, {104, "pef"}, {106, "srw"}, {107, "orf"}, {18, "crw"},
    };
    auto it = kExt.find(type);
    return it == kExt.end() ? std::string() : it->second;
}

}  // namespace BruteForce
