// The framed archive file of saved scan results: a checked 132-byte header, then tagged frames.
//
// Layout (little-endian): +0 16-byte signature, +16 u32 version 5800, +20 u32 CRC-16 (low 16 bits),
// +24 u32 status (1-4 valid), +28 u32 description length (0-100), +32 100 description bytes.
// From +132 frames follow, each a 36-byte header (16-byte magic = the signature, 16-byte tag,
// u32 data size) and its data. Offsets and sizes are 32-bit.
#pragma once

#include <cstddef>
#include <cstring>

#include "engine/Common/Types.h"

struct tagGUIDSIGN {
    u8 bytes[16];
    bool operator==(const tagGUIDSIGN& other) const { return std::memcmp(bytes, other.bytes, 16) == 0; }
};

// The format's magic number, at the start of the file and of every frame.
inline constexpr tagGUIDSIGN _frSignPub{
    {0xea, 0xf4, 0xb3, 0x1c, 0x05, 0x43, 0xb6, 0x4a, 0xb4, 0xb8, 0x24, 0x4a, 0x33, 0xd9, 0x13, 0xbb}};
// Frame tags of a saved scan result: controller type, device record, node trees.
inline constexpr tagGUIDSIGN _frFileSystemSearchControllerList{
    {0x94, 0x63, 0x9b, 0x40, 0x81, 0xf6, 0x88, 0x4e, 0xa2, 0x0f, 0x5d, 0x63, 0x57, 0x82, 0xed, 0x75}};
inline constexpr tagGUIDSIGN _frDiskDevice{
    {0x76, 0xa6, 0x72, 0xb0, 0x48, 0x05, 0x8b, 0x46, 0xba, 0x9e, 0x91, 0x09, 0x3a, 0x63, 0xb5, 0x17}};
inline constexpr tagGUIDSIGN _frFileSystemNode{
    {0x6c, 0xf2, 0x08, 0xd2, 0x8c, 0x07, 0x34, 0x4e, 0x9d, 0x71, 0xd9, 0x1f, 0x53, 0x5f, 0x7b, 0x57}};

enum RSMode : u32 {
    RS_MODE_READ = 0,
    RS_MODE_WRITE = 1,
};

// Status of a saved file; a save writes 1, valid files hold 1 to 4.
using FileStatus = u32;

inline constexpr u32 kRSVersion = 5800;
inline constexpr size_t kRSHeaderSize = 132;
inline constexpr size_t kRSFrameHeaderSize = 36;
inline constexpr u32 kRSMaxDescription = 100;

struct FILEHEADER {
    tagGUIDSIGN signature = _frSignPub;
    u32 version = 0;
    u32 crc = 0;
    FileStatus status = 0;
    u32 descriptionLength = 0;
    char description[kRSMaxDescription] = {};

    // The 132 bytes as stored, and back.
    void Serialize(u8 (&out)[kRSHeaderSize]) const;
    static FILEHEADER Parse(const u8 (&in)[kRSHeaderSize]);
};

class IRSData {
public:
    virtual ~IRSData() = default;
    // True when the 132 bytes at the current position carry the signature and a status of 1 to 4
    // (the CRC is not examined).
    virtual bool CheckFile() = 0;
    // Opens the file: read mode read only; write mode truncating when create, else appending.
    virtual bool StartRS(const char* path, int create) = 0;
    virtual bool EndRS() = 0;
    virtual bool WriteFileHeader(const FILEHEADER& header) = 0;
    virtual bool ReadFileHeader(FILEHEADER& header) = 0;
    virtual FileStatus GetStatus() = 0;
    virtual bool SetStatus(FileStatus status) = 0;
    virtual bool SetFileDescription(const char* text) = 0;
    virtual bool GetFileDescription(char* out, int size) = 0;
    virtual bool OpenFrame(const tagGUIDSIGN& tag) = 0;
    virtual bool CloseFrame() = 0;
    virtual u32 GetFrameSize() = 0;
    // Reads min(size, bytes left in the frame); true also when fewer than size were left.
    virtual bool ReadCurFrame(void* out, u32 size) = 0;
    virtual bool WriteCurFrame(const void* data, u32 size) = 0;
    virtual bool FlushBuffer() = 0;
    // Reads exactly size bytes; fewer left in the frame throws error 5 and reads nothing.
    virtual bool ReadCurFrameExact(void* out, u32 size) = 0;
    // The file offset of the current frame's next byte to read (its data start plus what was read);
    // -1 without a current frame. Lets readers of frame contents name where a bad field lies.
    virtual i64 GetFramePosition() { return -1; }
    // The frame bytes not read yet (0 without a current frame).
    virtual u32 GetFrameBytesLeft() { return 0; }
};
