// A reader of the Exif block of a JPEG (the TIFF structure inside an APP1 segment): camera make and
// model, dates and exposure data. Not reentrant: the record to fill, the byte order and the last
// error are kept per thread, as the one caller (the signature search) reads one block at a time.
// Every value is read within the block and its own byte count; each directory is read once per block,
// and at most 4096 entries are read in all, so links that join again or overlap cannot make it slow.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

// Option bits of tag_ExifInfo::options: copy these parts into memory of the reader's own instead of
// pointing into the caller's data.
enum : u32 {
    EXIF_COPY_THUMBNAIL = 2,
    EXIF_COPY_USER_COMMENT = 4,
    EXIF_COPY_MAKER_NOTE = 8,
};

struct tag_ExifInfo {
    u32 options;                  // 0
    u32 reserved0;                // 4
    char version[5];              // 8: tag 0x9000
    char cameraMake[32];          // 13: tag 0x010F
    char cameraModel[40];         // 45: tag 0x0110
    char dateTime[20];            // 85: tag 0x9003, taken
    char dateTimeDigitized[20];   // 105: tag 0x9004
    char reserved1[11];           // 125
    i32 orientation;              // 136 (word 34): tag 0x0112, 1-8 else 0
    i32 width;                    // 140 (word 35)
    i32 height;                   // 144 (word 36)
    i32 flashUsed;                // 148 (word 37): tag 0x9209
    float focalLength;            // 152 (word 38): tag 0x920A
    float exposureTime;           // 156 (word 39): tag 0x829A
    float apertureFNumber;        // 160 (word 40): tag 0x829D
    float distance;               // 164 (word 41): tag 0x9206
    float ccdWidth;               // 168 (word 42): computed
    float exposureBias;           // 172 (word 43): tag 0x9204
    i32 lightSource;              // 176 (word 44): tag 0x9208
    i32 meteringMode;             // 180 (word 45): tag 0x9207
    i32 exposureProgram;          // 184 (word 46): tag 0x8822
    i32 isoEquivalent;            // 188 (word 47): tag 0x8827
    float compressionLevel;       // 192 (word 48): tag 0x9102
    float focalPlaneXRes;         // 196 (word 49): tag 0xA20E
    float focalPlaneYRes;         // 200 (word 50): tag 0xA20F
    float focalPlaneUnits;        // 204 (word 51): tag 0xA210, inches per unit
    float xResolution;            // 208 (word 52): tag 0x011A
    float yResolution;            // 212 (word 53): tag 0x011B
    float resolutionUnit;         // 216 (word 54): tag 0x0128, inches per unit
    float brightness;             // 220 (word 55): tag 0x9203
    u32 makerNoteSize;            // 224
    u32 userCommentSize;
    u32 thumbnailSize;
    u32 reserved2;
    const unsigned char* makerNote;    // copy or pointer into the caller's data
    const unsigned char* userComment;
    const unsigned char* thumbnail;
    unsigned char reserved3[1280 - 264];
};
static_assert(sizeof(tag_ExifInfo) == 1280, "the Exif record is 1280 bytes");
static_assert(offsetof(tag_ExifInfo, cameraMake) == 13 && offsetof(tag_ExifInfo, cameraModel) == 45);
static_assert(offsetof(tag_ExifInfo, dateTime) == 85 && offsetof(tag_ExifInfo, orientation) == 136);
static_assert(offsetof(tag_ExifInfo, brightness) == 220);

// Registers the record to fill (not owned).
void SetExitInfo(tag_ExifInfo* info);
// Copies the registered record.
void GetExifInfo(tag_ExifInfo* out);
// exif points at "Exif" and two zero bytes; length counts the bytes from there to the segment end
// that may be read (the TIFF data is length - 6 bytes). False with an error text on failure.
bool EXIF_process_EXIF(const unsigned char* jpeg, unsigned jpegLength, unsigned char* exif, unsigned length);
const char* EXIF_GetErrorString();
double EXIF_ConvertAnyFormat(const void* value, int format);
// Read in the byte order of the block being processed (the reader itself reads through a ByteReader).
i32 EXIF_Get32s(const void* p);
u32 EXIF_Get32u(const void* p);
u16 EXIF_Get16u(const void* p);
