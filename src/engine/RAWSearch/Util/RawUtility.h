// Byte routines shared by the analysers.
#pragma once

#include <string>

#include "engine/Common/Types.h"

namespace BruteForce {

class RawUtility {
public:
    // Reads in the given byte order (true: little-endian as TIFF "II"; false: big-endian). Only for
    // callers that hold a bare pointer: analysers read their bytes through a ByteReader over the data.
    static i32 EXIF_Get32s(const unsigned char* p, bool littleEndian);
    static u16 EXIF_Get16s(const unsigned char* p, bool littleEndian);
    // Searches backwards from length - skip for a non-zero byte that starts magic; returns the offset
    // just after the match, 0 when none (or when length - skip is negative).
    static int FindMagicInBuffer(const unsigned char* buffer, int length, int skip, const unsigned char* magic,
                                 int magicLength);
    // 0 for an all-zero buffer; otherwise the length of the data before the trailing zeros (the offset
    // just past the last non-zero byte).
    static int Binary_Compare(const unsigned char* buffer, int length);
    // The lower-case extension of some office, video and camera raw types; empty for others.
    static std::string GetFileExtWithType(int type);
};

}  // namespace BruteForce
