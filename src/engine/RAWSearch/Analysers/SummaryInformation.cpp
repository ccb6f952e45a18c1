#include "engine/RAWSearch/Analysers/SummaryInformation.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/RAWSearch/Analysers/OleLayout.h"
#include "engine/RAWSearch/Util/IconvText.h"

using namespace ole_layout;

namespace {

constexpr u32 kMaxProperties = 31;
constexpr i64 kMaxStringBytes = 1024;
constexpr u64 kTicksPerSecond = 10000000;
constexpr i64 kSecondsFrom1601To1970 = 11644473600LL;

// UTF-8 as this reader accepts it: 1-, 2- and 3-byte sequences with their continuation bytes (a
// sequence cut off by the end counts); a lead byte of 0x80-0xBF or above 0xEF is not.
bool LooksLikeUtf8(const unsigned char* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        size_t trailing = 0;
        if (c < 0x80) {
            trailing = 0;
        } else if (c >= 0xC0 && c <= 0xDF) {
            trailing = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            trailing = 2;
        } else {
            return false;
        }
        for (size_t k = 1; k <= trailing && i + k < n; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
        }
        i += trailing + 1;
    }
    return true;
}

std::string FileTimeText(u64 ticks) {
    if (ticks == 0) return {};
    const i64 seconds = static_cast<i64>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
    const time_t t = static_cast<time_t>(seconds);
    tm local{};
    if (localtime_r(&t, &local) == nullptr) return {};
    char text[64];
    snprintf(text, sizeof(text), "%d-%02d-%02d-%02d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
             local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

}  // namespace

bool CSummaryInFormation::IsDocumentInformation(const ByteReader& stream) {
    if (stream.Le16(kByteOrder) != kByteOrderMark) return false;
    const std::optional<u16> version = stream.Le16(kFormatVersion);
    if (!version || *version > 1) return false;
    const std::optional<u32> sections = stream.Le32(kSectionCount);
    if (!sections || (*sections != 1 && *sections != 2)) return false;
    return stream.Equals(kFirstFormatId, kSummaryInformationId, sizeof(kSummaryInformationId));
}

void CSummaryInFormation::GetDetailInformation(const ByteReader& stream, i64 valueOffset, int& codePage,
                                               std::string& out) {
    if (valueOffset < 0 || !stream.Has64(static_cast<u64>(valueOffset), 8)) return;
    const ByteReader value = stream.From(static_cast<size_t>(valueOffset));
    switch (*value.Le32(kValueType)) {
        case kTypeFileTime:
            if (const std::optional<u64> ticks = value.Le64(kValue)) out = FileTimeText(*ticks);
            return;
        case kTypeI2:
            codePage = *value.Le16(kValue);
            return;
        case kTypeWideString: {
            const i64 count = static_cast<i32>(*value.Le32(kValue));
            if (count < 0 || 2 * count > kMaxStringBytes || !value.Has64(kStringChars, static_cast<u64>(2 * count))) return;
            out = IconvToUtf8("UTF-16LE", value.data() + kStringChars, static_cast<size_t>(2 * count),
                              static_cast<size_t>(3 * count));
            return;
        }
        case kTypeString: {
            const i64 count = static_cast<i32>(*value.Le32(kValue));
            if (count < 0 || count > kMaxStringBytes || !value.Has64(kStringChars, static_cast<u64>(count))) return;
            const unsigned char* chars = value.data() + kStringChars;
            const size_t length = strnlen(reinterpret_cast<const char*>(chars), static_cast<size_t>(count));
            std::string text;
            if (LooksLikeUtf8(chars, length)) {
                text.assign(reinterpret_cast<const char*>(chars), length);
            } else {
                text = IconvToUtf8("GBK", chars, length, static_cast<size_t>(2 * count));
            }
            OperateString(text);
            out = text;
            return;
        }
        default: return;
    }
}

std::string CSummaryInFormation::FilterFileTime(std::string time) {
    for (size_t i = 1; i < time.size(); ++i) {
        if (time[i] == ':') time[i] = '-';
    }
    return time;
}

void CSummaryInFormation::OperateString(std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    text = first == std::string::npos ? std::string() : text.substr(first);
    if (text.size() >= 25) text = CutUtf8(text, 24);
}

bool CSummaryInFormation::GetFileInformation(const unsigned char* data, FileProperty& out, int length) {
    if (data == nullptr || length <= 0) return false;
    m_length = static_cast<u32>(length);
    const ByteReader stream(data, static_cast<size_t>(length));
    if (!IsDocumentInformation(stream)) return false;
    const u64 section = *stream.Le32(kFirstSectionOffset);
    const std::optional<u32> size = stream.Le32(section);
    const std::optional<u32> count = stream.Le32(section + kSectionPropertyCount);
    if (!size || !count) return false;
    m_sectionSize = *size;
    m_propertyCount = static_cast<i32>(*count);
    if (m_propertyCount < 1 || static_cast<u32>(m_propertyCount) > kMaxProperties) return false;
    FileProperty read;
    int codePage = 0;
    for (u32 k = 0; k < static_cast<u32>(m_propertyCount); ++k) {
        const u64 pair = section + kSectionPairs + u64{k} * kPairSize;
        const std::optional<u32> id = stream.Le32(pair + kPairId);
        const std::optional<u32> offset = stream.Le32(pair + kPairOffset);
        if (!id || !offset) return false;
        std::string* field = nullptr;
        bool time = false;
        switch (*id) {
            case kPidTitle: field = &read.title; break;
            case kPidAuthor: field = &read.author; break;
            case kPidLastAuthor: field = &read.lastAuthor; break;
            case kPidCreated: field = &read.created; time = true; break;
            case kPidSaved: field = &read.modified; time = true; break;
            default: continue;
        }
        // The value offset counts from the section; a negative one (as a signed field) reads nothing.
        const i64 valueOffset = static_cast<i32>(*offset) < 0 ? -1 : static_cast<i64>(section + *offset);
        GetDetailInformation(stream, valueOffset, codePage, *field);
        if (time) *field = FilterFileTime(*field);
    }
    const bool any = !read.title.empty() || !read.author.empty() || !read.lastAuthor.empty() || !read.created.empty() ||
                     !read.modified.empty();
    if (any) out = read;
    return any;
}
