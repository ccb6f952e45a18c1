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
