// ID3 tags of MP3 files (ID3v2 at the start, ID3v1 "TAG" at the end): the texts that name a found
// file, converted to UTF-8. Shared by the guessing record and the device measurement.
#pragma once

#include <string>

#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"

namespace id3 {

inline constexpr u32 kMaxTagSize = 0x40000000;  // larger tag or frame sizes are not ID3
inline constexpr size_t kMaxText = 255;         // bytes of a frame's text that are used
inline constexpr size_t kMaxLyricsArtist = 1024;

// What an ID3v2 tag told.
struct TagInfo {
    std::string artist;
    std::string title;
    std::string year;
    std::string charset;      // the set guessed for the title (text encoding 0), reused for the file
    bool artistFromLyrics = false;
    i64 pictureOffset = 0;    // the JPEG of an "APIC" frame, from the file start
    i64 pictureSize = 0;
};

// The whole size of the ID3v2 tag at the start of bytes (header, frames and footer); 0 when the bytes
// do not begin an ID3v2 tag of major version 3 or 4 with a valid size.
u64 TagSize(const ByteReader& bytes);

// Reads the frames of the ID3v2 tag at the start of bytes (bytes may hold less than the whole tag:
// the walk stops at their end). Version 4 frame sizes are synchsafe.
void ReadTag(const ByteReader& bytes, TagInfo& out);

// The text of a text frame's data (its first byte is the ID3v2 encoding). For encoding 0 the set is
// guessed when charset is empty, and charset receives the guess when keepCharset is set.
std::string FrameText(const ByteReader& data, std::string& charset, bool keepCharset);

// Legacy text (ID3v1, or ID3v2 encoding 0) in the guessed or given set, as UTF-8; bytes of 0x80 and
// above become "_" when it cannot be converted.
std::string LegacyText(const ByteReader& text, std::string& charset, bool keepCharset);

// The set libchardet names for text, empty when it names none (or with confidence 0).
std::string DetectCharset(const std::string& text);

// Valid UTF-8 stays; otherwise each byte of 0x80 and above becomes "_", and a text made only of such
// bytes becomes empty.
std::string CheckUtf8(std::string text);

// Title, artist and year of the 128-byte ID3v1 tag ("TAG" at its start).
struct V1Info {
    std::string title;
    std::string artist;
    std::string year;
};
V1Info ReadV1(const ByteReader& tag, std::string& charset);

}  // namespace id3
