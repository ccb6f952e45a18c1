#include "engine/RAWSearch/Analysers/Id3Tags.h"

#include <chardet.h>

#include <cstring>

#include "engine/RAWSearch/Analysers/MPAHeader.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Util/IconvText.h"

using namespace mp3_layout;

namespace id3 {

namespace {

constexpr size_t kConvertedLimit = 1024;
constexpr u8 kLatin1 = 0;
constexpr u8 kUtf16 = 1;
constexpr u8 kUtf8 = 3;

bool ValidUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const u8 c = static_cast<u8>(text[i]);
        size_t extra = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
        } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
            extra = 3;
        } else {
            return false;
        }
        if (extra > text.size() - i - 1) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((static_cast<u8>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

// The bytes up to the first zero byte, at most limit.
std::string CText(const ByteReader& bytes, size_t limit) {
    const size_t n = std::min(bytes.size(), limit);
    const void* zero = n > 0 ? memchr(bytes.data(), 0, n) : nullptr;
    const size_t length = zero != nullptr ? static_cast<size_t>(static_cast<const u8*>(zero) - bytes.data()) : n;
    return std::string(reinterpret_cast<const char*>(bytes.data()), length);
}

std::string Underscored(std::string text) {
    for (char& c : text) {
        if (static_cast<u8>(c) >= 0x80) c = '_';
    }
    return text;
}

// The frame size at offset 4 of a frame header: synchsafe in version 4, plain big-endian before.
std::optional<u32> FrameSize(const ByteReader& header, u8 major) {
    if (!header.Has(kId3FrameSize, 4)) return std::nullopt;
    if (major == 4) {
        u32 size = 0;
        if (!classMp3Search::GetSynchsafeInteger(header.data() + kId3FrameSize, size)) return std::nullopt;
        return size;
    }
    return header.Be32(kId3FrameSize);
}

// The first offset of pattern in bytes, or npos.
size_t Find(const ByteReader& bytes, std::string_view pattern, size_t from = 0) {
    if (bytes.size() < pattern.size()) return std::string_view::npos;
    for (size_t i = from; i + pattern.size() <= bytes.size(); ++i) {
        if (bytes.Equals(i, pattern)) return i;
    }
    return std::string_view::npos;
}

}  // namespace

std::string CheckUtf8(std::string text) {
    if (ValidUtf8(text)) return text;
    bool plain = false;
    for (char& c : text) {
        if (static_cast<u8>(c) >= 0x80) {
            c = '_';
        } else {
            plain = true;
        }
    }
    return plain ? text : std::string();
}

std::string DetectCharset(const std::string& text) {
    if (text.empty()) return {};
    DetectObj* obj = detect_obj_init();
    if (obj == nullptr) return {};
    std::string set;
    if (detect(text.c_str(), &obj) == CHARDET_SUCCESS && obj->confidence != 0 && obj->encoding != nullptr) {
        set = obj->encoding;
    }
    detect_obj_free(&obj);
    return set;
}

std::string LegacyText(const ByteReader& bytes, std::string& charset, bool keepCharset) {
    const std::string raw = CText(bytes, kMaxText);
    if (raw.empty()) return {};
    std::string set = charset;
    if (set.empty()) {
        set = DetectCharset(raw);
        if (keepCharset) charset = set;
    }
    if (set.empty()) return Underscored(raw);
    std::string out = IconvToUtf8(set.c_str(), reinterpret_cast<const unsigned char*>(raw.data()), raw.size(),
                                  kConvertedLimit);
    if (out.empty()) return Underscored(raw);
    return out;
}

std::string FrameText(const ByteReader& data, std::string& charset, bool keepCharset) {
    const auto encoding = data.U8(0);
    if (!encoding) return {};
    const ByteReader text = data.From(1);
    const ByteReader used(text.data(), std::min(text.size(), kMaxText));
    switch (*encoding) {
        case kLatin1:
            return LegacyText(used, charset, keepCharset);
        case kUtf8:
            return CheckUtf8(CText(used, kMaxText));
        case kUtf16: {
            if (data.size() < 4) return {};
            const ByteReader body = used.From(2);
            if (used.Equals(0, "\xFF\xFE", 2)) return IconvToUtf8("UTF-16LE", body.data(), body.size(), kConvertedLimit);
            if (used.Equals(0, "\xFE\xFF", 2)) return IconvToUtf8("UTF-16BE", body.data(), body.size(), kConvertedLimit);
            return {};
        }
        default:
            return {};
    }
}

u64 TagSize(const ByteReader& bytes) {
    if (!bytes.Has(0, kId3Header) || !bytes.Equals(0, "ID3")) return 0;
    const u8 major = *bytes.U8(kId3Version);
    if (major != 3 && major != 4) return 0;
    u32 size = 0;
    if (!classMp3Search::GetSynchsafeInteger(bytes.data() + kId3Size, size) || size == 0 || size > kMaxTagSize) {
        return 0;
    }
    const bool footer = (*bytes.U8(kId3Flags) & kId3FooterFlag) != 0;
    return u64{size} + kId3Header + (footer ? kId3Footer : 0);
}

void ReadTag(const ByteReader& bytes, TagInfo& out) {
    const u64 whole = TagSize(bytes);
    if (whole == 0) return;
    const u8 major = *bytes.U8(kId3Version);
    u32 body = 0;
    classMp3Search::GetSynchsafeInteger(bytes.data() + kId3Size, body);
    const u64 end = std::min<u64>(u64{body} + kId3Header, bytes.size());
    u64 at = kId3Header;
    while (at + kId3FrameHeader <= end) {
        const ByteReader header = *bytes.Sub(at, kId3FrameHeader);
        if (*header.U8(0) == 0) break;  // padding
        const auto size = FrameSize(header, major);
        if (!size || *size == 0 || *size > kMaxTagSize) break;
        const u64 dataAt = at + kId3FrameHeader;
        // The frame's data as far as the held bytes go.
        const ByteReader data = bytes.Sub(dataAt, std::min<u64>(*size, bytes.size() - dataAt)).value_or(ByteReader());
        if (header.Equals(0, "TPE1")) {
            if (!out.artistFromLyrics) out.artist = FrameText(data, out.charset, false);
        } else if (header.Equals(0, "TIT2")) {
            out.title = FrameText(data, out.charset, true);
        } else if (header.Equals(0, "TYER")) {
            out.year = FrameText(data, out.charset, false);
        } else if (header.Equals(0, "APIC")) {
            const size_t jpeg = Find(data, "\xFF\xD8\xFF");
            out.pictureOffset = jpeg != std::string_view::npos ? static_cast<i64>(dataAt + jpeg)
                                                                : static_cast<i64>(at - kId3Header + 63);
            out.pictureSize = *size;
        } else if (header.Equals(0, "USLT")) {
            const size_t open = Find(data, "[ar:");
            if (open != std::string_view::npos) {
                const size_t close = Find(data, "]", open + 4);
                if (close != std::string_view::npos && close - open - 4 < kMaxLyricsArtist) {
                    const std::string artist = CheckUtf8(
                        std::string(reinterpret_cast<const char*>(data.data()) + open + 4, close - open - 4));
                    if (!artist.empty()) {
                        out.artist = artist;
                        out.artistFromLyrics = true;
                    }
                }
            }
        }
        at = dataAt + *size;
    }
}

V1Info ReadV1(const ByteReader& tag, std::string& charset) {
    V1Info v1;
    if (!tag.Has(0, kId3v1Size) || !tag.Equals(0, "TAG")) return v1;
    v1.title = LegacyText(*tag.Sub(kId3v1Title, kId3v1Text), charset, true);
    v1.artist = CleanRawFileName(CheckUtf8(LegacyText(*tag.Sub(kId3v1Artist, kId3v1Text), charset, false)));
    v1.year = CText(*tag.Sub(kId3v1Year, 4), 4);
    while (!v1.title.empty() && v1.title.back() == ' ') v1.title.pop_back();
    return v1;
}

}  // namespace id3
