// Offsets of the headers that the header-sized audio and video analysers read.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace riff_layout {
inline constexpr size_t kChunkSize = 4;   // u32 little-endian: bytes after the 8-byte header
inline constexpr size_t kFormType = 8;
inline constexpr size_t kFirstChunk = 12;
inline constexpr size_t kCmxTitle = 20;   // "{Corel Binary Meta File}"
inline constexpr u64 kHeader = 8;
}  // namespace riff_layout

// The chunk header of RIFF, its size big-endian.
namespace aiff_layout {
inline constexpr size_t kFormType = 8;  // "AIFF" or "AIFC"
}  // namespace aiff_layout

namespace au_layout {
inline constexpr size_t kHeaderSize = 4;  // u32 big-endian: offset of the sample data
inline constexpr size_t kDataSize = 8;    // u32 big-endian; 0xFFFFFFFF when unknown
inline constexpr u32 kMinHeader = 24;
inline constexpr u32 kUnknownSize = 0xFFFFFFFF;
}  // namespace au_layout

namespace swf_layout {
inline constexpr size_t kVersion = 3;
inline constexpr size_t kLength = 4;  // u32 little-endian: the whole movie uncompressed
inline constexpr u8 kMaxVersion = 32;
inline constexpr u8 kMinCompressedVersion = 6;
inline constexpr u64 kCompressedExtra = 8;
}  // namespace swf_layout

namespace mkv_layout {
inline constexpr size_t kHeaderSize = 4;   // EBML variable-length size of the EBML header
inline constexpr size_t kIdLength = 4;     // the Segment's element ID
inline constexpr u64 kMaxSegment = 512;    // the Segment must start within the first sector
inline constexpr unsigned char kSegmentId[4] = {0x18, 0x53, 0x80, 0x67};
}  // namespace mkv_layout

namespace itl_layout {
inline constexpr size_t kSize = 8;  // u32 big-endian
}  // namespace itl_layout

namespace midi_layout {
inline constexpr size_t kHeaderLength = 4;  // u32 big-endian, 6
inline constexpr size_t kFormat = 8;        // u16 big-endian, 0..2
inline constexpr size_t kTracks = 10;       // u16 big-endian, not 0
inline constexpr u32 kMThdLength = 6;
inline constexpr u16 kMaxFormat = 2;
inline constexpr u64 kFirstChunk = 14;
inline constexpr size_t kChunkLength = 4;   // u32 big-endian: bytes after the 8-byte chunk header
inline constexpr u64 kChunkHeader = 8;
inline constexpr u64 kGuessLimit = 10000000;
inline constexpr u64 kDeviceLimit = 0xD000001;
}  // namespace midi_layout

namespace mlv_layout {
inline constexpr size_t kRawInfo = 52;   // "RAWI": the block after the 52-byte file header
inline constexpr size_t kBlockSize = 4;  // u32 little-endian, the whole block
inline constexpr u64 kBlockHeader = 8;
inline constexpr u64 kLimit = 0x7D000000;
inline constexpr u32 kZeroTail = 16;     // a sector ending in this many zero bytes may end the file
inline constexpr const char* kBlockTypes[] = {"MLVI", "RAWI", "INFO", "RTCI", "EXPO", "LENS", "IDNT", "WBAL",
                                              "STYL", "WAVI", "MARK", "VIDF", "NULL", "AUDF", "BKUP"};
}  // namespace mlv_layout

// Flash video: a 9-byte header, then tags each preceded by the size of the tag before.
namespace flv_layout {
inline constexpr size_t kVersion = 3;         // 1
inline constexpr u64 kFirstTag = 9;           // the first previous-tag size (u32 big-endian, 0)
inline constexpr u64 kTagHeader = 8;          // previous-tag size, tag type, 24-bit data size
inline constexpr size_t kTagType = 4;         // 8 audio, 9 video, 18 script data
inline constexpr size_t kDataSize = 5;        // u24 big-endian
inline constexpr u64 kTagBytes = 11;          // a tag's header: what a previous-tag size adds to its data
inline constexpr u64 kTagStep = 15;           // previous-tag size + tag header
inline constexpr u64 kCap = 209715200;
inline constexpr u64 kDeviceLimit = 0x82000000;
inline constexpr int kTagsPerCall = 1024;
}  // namespace flv_layout

// MPEG program streams: start codes 00 00 01 xx, most followed by a 16-bit big-endian length.
namespace mpg_layout {
inline constexpr size_t kPackBytes = 4;       // bytes 4..7 of the start sector name the pack header's form
inline constexpr size_t kPacketLength = 4;    // u16 big-endian after a start code
inline constexpr u64 kPacketHeader = 6;
inline constexpr u64 kEmptyPacket = 4;
inline constexpr u8 kProgramEnd = 0xB9;  // 00 00 01 B9 ends the stream, its last four bytes
inline constexpr u64 kMinSystemEnd = 102400;
inline constexpr int kZeroRun = 100;
inline constexpr int kStepsPerCall = 1024;
inline constexpr i64 kMinStartDistance = 21;  // sectors between two accepted starts
inline constexpr u64 kCap = 209715200;
inline constexpr u64 kDeviceLimit = 0x82000000;
inline constexpr u64 kHeadRead = 64;          // bytes read at each step
inline constexpr unsigned char kAccepted[7][4] = {{0x21, 0x00, 0x01, 0x00}, {0x21, 0x00, 0x71, 0x6F},
                                                  {0x44, 0x00, 0x2C, 0x48}, {0x21, 0x00, 0x01, 0x09},
                                                  {0x44, 0x00, 0x04, 0x00}, {0x2F, 0xFF, 0xFF, 0x13},
                                                  {0x44, 0x00, 0x04, 0x04}};
inline constexpr unsigned char kPack12[2][4] = {{0x21, 0x00, 0x01, 0x00}, {0x21, 0x00, 0x71, 0x6F}};
inline constexpr unsigned char kPack14[4][4] = {{0x44, 0x00, 0x04, 0x00}, {0x44, 0x00, 0x04, 0x04},
                                                {0x44, 0x00, 0x14, 0x80}, {0x44, 0x00, 0x2C, 0x48}};
}  // namespace mpg_layout

// Ogg: pages of a 27-byte header, a segment table and the segments.
namespace ogg_layout {
inline constexpr u64 kPageHeader = 27;
inline constexpr size_t kSegments = 26;
inline constexpr int kPagesPerCall = 512;
inline constexpr u64 kCap = 209715200;
inline constexpr u64 kDeviceLimit = 0x82000000;
}  // namespace ogg_layout

// RealMedia: chunks of a 4-byte identifier and a 32-bit big-endian size.
namespace rm_layout {
inline constexpr size_t kChunkSize = 4;
inline constexpr u64 kChunkHeader = 8;
inline constexpr u64 kHead = 1024;             // the start sector's bytes searched for the stream kind
inline constexpr u64 kVideoNameSpan = 160;
inline constexpr size_t kIndexVersion = 8;     // u16
inline constexpr size_t kIndexCount = 10;      // u32
inline constexpr size_t kNextIndex = 16;       // u32
inline constexpr u64 kIndexHeader = 20;
inline constexpr u64 kIndexEntry = 14;
inline constexpr u64 kDataHeader = 18;        // "DATA", size, version, packet count, next data header
inline constexpr u64 kPacketHeader = 12;       // version 0 (13 for version 1): version, length, stream, time, flags
inline constexpr size_t kPacketLength = 2;     // u16 big-endian, the packet's header included
inline constexpr u64 kDataEndHeader = 8;       // zero bytes after the last packet (within the chunk's size)
inline constexpr u64 kEndRecord = 20;
inline constexpr unsigned char kEndBytes[20] = {'I', 'N', 'D', 'X', 0, 0, 0, 0x14, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
inline constexpr u32 kZeroTail = 8;            // a sector ending in this many zero bytes may hold the end record
inline constexpr u64 kStraddle = 32;
inline constexpr u64 kCap = 209715200;
inline constexpr u64 kDeviceLimit = 0x104000000;
inline constexpr int kChunksPerCall = 1024;
}  // namespace rm_layout

// MXF: KLV packets, a 16-byte key starting 06 0E 2B 34 and a BER length.
namespace mxf_layout {
inline constexpr unsigned char kKeyPrefix[4] = {0x06, 0x0E, 0x2B, 0x34};
inline constexpr unsigned char kPartitionKey[7] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01};
inline constexpr size_t kMajorVersion = 20;    // u16 big-endian: 1
inline constexpr size_t kMinorVersion = 22;    // u16 big-endian: 0 to 3 (3 in files current writers make)
inline constexpr u16 kMaxMinorVersion = 3;
inline constexpr size_t kThisPartition = 32;
inline constexpr size_t kFooterPartition = 48;
inline constexpr size_t kLength = 16;          // BER length after the key
inline constexpr u64 kKeyBytes = 16;
inline constexpr u64 kLimit = 2000000000;
inline constexpr int kPacketsPerCall = 1024;
}  // namespace mxf_layout

// ASF: objects of a 16-byte GUID (stored byte order) and a 64-bit little-endian size.
namespace asf_layout {
inline constexpr u64 kObjectHeader = 24;
inline constexpr size_t kObjectSize = 16;
inline constexpr u64 kFirstChild = 30;
inline constexpr size_t kStreamType = 24;      // in a Stream Properties Object
inline constexpr u64 kCap = 0x1964000000;
inline constexpr int kObjectsPerCall = 1024;
using Guid = unsigned char[16];
inline constexpr Guid kHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                           0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
inline constexpr Guid kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                     0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
inline constexpr Guid kAudioMedia = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                     0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
inline constexpr Guid kTopLevel[5] = {
    {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C},  // data
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},  // simple index
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},  // index
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},  // media index
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C},  // timecode
};
}  // namespace asf_layout

// MPEG transport streams of 188-byte packets, or 192 with a 4-byte time code before each.
namespace m2ts_layout {
inline constexpr u8 kSync = 0x47;
inline constexpr u8 kSecondBytes[4] = {0x40, 0x41, 0x10, 0x50};
inline constexpr u64 kPacket = 188;
inline constexpr u64 kSourcePacket = 192;
inline constexpr u64 kMinSize = 20480;         // smaller streams are dropped
inline constexpr u64 kCap = 10000000000;
inline constexpr u64 kBatch = 32;
}  // namespace m2ts_layout

// AAC in ADTS frames: a 12-bit sync, layer 0, a 13-bit frame length.
namespace adts_layout {
inline constexpr u64 kHeader = 9;
inline constexpr int kFramesToAccept = 5;
inline constexpr int kFewFrames = 4;           // a start accepted at the block's end needs more than these
inline constexpr int kFramesPerCall = 1024;
}  // namespace adts_layout

// Monkey's Audio: "MAC ", the version, then a descriptor (3980 on) or the old header.
namespace ape_layout {
inline constexpr size_t kVersion = 4;          // u16 little-endian, 1000..9999
inline constexpr u16 kMinVersion = 1000;
inline constexpr u16 kMaxVersion = 9999;
inline constexpr u16 kDescriptorVersion = 3980;
inline constexpr u16 kOldTableVersion = 3801;
// Descriptor (little-endian u32s).
inline constexpr size_t kDescriptorBytes = 8;
inline constexpr size_t kHeaderBytes = 12;
inline constexpr size_t kSeekTableBytes = 16;
inline constexpr size_t kHeaderDataBytes = 20;
inline constexpr size_t kFrameDataBytes = 24;
inline constexpr size_t kTerminatingBytes = 32;
inline constexpr u64 kDescriptor = 52;         // with the MD5 after the lengths
// The header after the descriptor.
inline constexpr size_t kBitsPerSample = 16;   // u16
inline constexpr size_t kChannels = 18;        // u16
inline constexpr u64 kHeaderRead = 24;
// The old header.
inline constexpr size_t kOldFlags = 8;         // u16
inline constexpr size_t kOldChannels = 10;     // u16
inline constexpr size_t kOldWavBytes = 16;     // u32
inline constexpr size_t kOldTotalFrames = 24;  // u32
inline constexpr u64 kOldSeekTable = 32;
inline constexpr u64 kWavHeaderSkip = 44;
inline constexpr u32 kMaxSeekEntry = 0x81FFFFFF;
// The tag footer.
inline constexpr u64 kFooter = 32;
inline constexpr size_t kTagSize = 12;
inline constexpr size_t kItemCount = 16;
inline constexpr size_t kTagFlags = 20;
inline constexpr u32 kMaxItems = 65535;
inline constexpr u32 kMaxTagSize = 16777248;
inline constexpr u64 kLimit = 0x82000000;
}  // namespace ape_layout
