// One MPEG audio frame header (MPEG 1, 2 and 2.5, Layers I to III) and the ID3v2 helpers that the MP3
// analysers share.
#pragma once

#include "engine/Common/Types.h"

// Offsets and limits of MPEG audio frames and ID3 tags.
namespace mp3_layout {
inline constexpr u32 kFrameHeader = 4;
inline constexpr u32 kMaxFrameSize = 352800;     // a larger first frame is no MP3 start
inline constexpr u32 kId3Header = 10;            // "ID3", version (2), flags, synchsafe size (4)
inline constexpr u32 kId3Version = 3;            // major version byte
inline constexpr u32 kId3Flags = 5;
inline constexpr u32 kId3Size = 6;
inline constexpr u8 kId3FooterFlag = 0x10;
inline constexpr u32 kId3Footer = 10;
inline constexpr u32 kId3FrameHeader = 10;       // identifier (4), size (4), flags (2)
inline constexpr u32 kId3FrameSize = 4;
inline constexpr u32 kId3v1Size = 128;           // "TAG" tag at the end
inline constexpr u32 kId3v1Title = 3;
inline constexpr u32 kId3v1Artist = 33;
inline constexpr u32 kId3v1Year = 93;
inline constexpr u32 kId3v1Text = 30;
inline constexpr u32 kApeTagSize = 260;          // "APETAGEX" footer and the tag after it, as counted
inline constexpr u32 kXingTag = 36;              // "Xing" / "Info" in an MPEG 1 stereo Layer III frame
inline constexpr u32 kXingBytes = 48;            // the stream's byte count
}  // namespace mp3_layout

class CMPAHeader {
public:
    // Decodes the four bytes at header (the caller has checked the 11 sync bits). False for a reserved
    // version, layer, sampling rate or emphasis, a bit-rate index of 15 or 0 (free format), or a Layer II
    // bit-rate and channel-mode pair that MPEG 1 does not allow.
    bool Init(const unsigned char* header);
    // Bytes of the frame, header included.
    u32 CalcFrameSize() const;
    // Same version, layer, sampling rate and emphasis, and both mono or both not.
    bool operator==(const CMPAHeader& other) const;

    bool IsMono() const { return m_channelMode == kMono; }

    static constexpr u32 kMpeg25 = 0;
    static constexpr u32 kMpeg2 = 2;
    static constexpr u32 kMpeg1 = 3;
    static constexpr u32 kMono = 3;

    u32 m_lowSamplingFrequency = 0;  // MPEG 2 and 2.5
    u32 m_version = 0;               // the header's version field: 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
    u32 m_layer = 0;                 // 1, 2 or 3
    u32 m_emphasis = 0;
    u32 m_channelMode = 0;
    u32 m_samplingRate = 0;          // Hz
    u32 m_samplesPerFrame = 0;
    u32 m_bitRate = 0;               // bits per second
    u32 m_padding = 0;
    u16 m_intensityStereoBound = 0;  // joint stereo: 4 + 4 x mode extension
    u16 m_allowedModes = 0;          // MPEG 1 Layer II: 1 mono only, 2 every mode, 3 every mode but mono
    u8 m_copyright = 0;
    u8 m_original = 0;
    u8 m_private = 0;
    u8 m_crc = 0;                    // a CRC follows the header
    u8 m_modeExtension = 0;
};

// True when the bytes at p look like the start of a frame header: FF, then at least E0, then below F0
// (the sync bits, and a bit-rate index other than 15).
inline bool Mp3SyncBytes(const unsigned char* p) { return p[0] == 0xFF && p[1] >= 0xE0 && p[2] < 0xF0; }

// True when the bytes at p begin an ID3v2 tag of major version 3 or 4 (at least 4 bytes).
inline bool Mp3Id3Start(const unsigned char* p) {
    const u8 major = p[mp3_layout::kId3Version];
    return p[0] == 'I' && p[1] == 'D' && p[2] == '3' && (major == 3 || major == 4);
}

namespace classMp3Search {
// The 28-bit ID3v2 size: 7 bits of each byte, most significant first; false when a byte has its top
// bit set.
bool GetSynchsafeInteger(const unsigned char* bytes, u32& out);
}  // namespace classMp3Search

// A header for MPEG 1 Layer III with a valid bit-rate and sampling-rate index and emphasis other than 2.
bool bMp3NotID3Header(const unsigned char* header);
