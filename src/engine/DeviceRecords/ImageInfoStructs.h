// Information records of the two kinds of disk-image file. Both are stored whole in saved scan results,
// so their byte layouts are fixed (little-endian host values).
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

// The information block of an EDI image file. The file starts with "edi\0", the block length (u32 LE,
// kEdiInfoBlockSize), the block itself, zeros up to dataOffset, then the image data.
struct CEDIDeviceInfoStruct {
    u64 sectorSize;     // bytes per sector of the imaged device
    u64 totalSectors;   // sectors of the imaged device
    u64 dataOffset;     // byte offset of the image data in the file
    u64 fileSize;       // size of the whole image file (0 while the image is being written)
    char name[128];     // name of the imaged disk or volume, NUL-terminated
    char path[1024];    // path of the image file, NUL-terminated
    u64 creationTime;   // seconds since 1970-01-01 UTC
};

inline constexpr char kEdiMagic[4] = {'e', 'd', 'i', '\0'};
inline constexpr u32 kEdiInfoBlockSize = 1192;
inline constexpr u32 kEdiHeaderSize = 8;  // magic + block length

static_assert(sizeof(CEDIDeviceInfoStruct) == kEdiInfoBlockSize);
static_assert(offsetof(CEDIDeviceInfoStruct, sectorSize) == 0);
static_assert(offsetof(CEDIDeviceInfoStruct, totalSectors) == 8);
static_assert(offsetof(CEDIDeviceInfoStruct, dataOffset) == 16);
static_assert(offsetof(CEDIDeviceInfoStruct, fileSize) == 24);
static_assert(offsetof(CEDIDeviceInfoStruct, name) == 32);
static_assert(offsetof(CEDIDeviceInfoStruct, path) == 160);
static_assert(offsetof(CEDIDeviceInfoStruct, creationTime) == 1184);

// The record of a flat or UDIF image.
struct CDMGDeviceInfoStruct {
    u64 sectorSize;     // 512 for the images the parser accepts
    u64 totalSectors;
    u64 dataOffset;     // byte offset of sector 0 in the file
    u64 fileLength;     // length of the image file in bytes
    char name[1024];    // last path component, NUL-terminated
    char path[1024];    // full path of the image file, NUL-terminated
    u64 reserved;       // not used (0)
};

inline constexpr u32 kDmgInfoSize = 2088;

static_assert(sizeof(CDMGDeviceInfoStruct) == kDmgInfoSize);
static_assert(offsetof(CDMGDeviceInfoStruct, sectorSize) == 0);
static_assert(offsetof(CDMGDeviceInfoStruct, totalSectors) == 8);
static_assert(offsetof(CDMGDeviceInfoStruct, dataOffset) == 16);
static_assert(offsetof(CDMGDeviceInfoStruct, fileLength) == 24);
static_assert(offsetof(CDMGDeviceInfoStruct, name) == 32);
static_assert(offsetof(CDMGDeviceInfoStruct, path) == 1056);
static_assert(offsetof(CDMGDeviceInfoStruct, reserved) == 2080);
