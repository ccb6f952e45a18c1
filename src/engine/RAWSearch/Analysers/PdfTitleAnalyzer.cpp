#include "engine/RAWSearch/Analysers/PdfTitleAnalyzer.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstring>

#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Util/IconvText.h"

namespace BruteForce {

namespace {

constexpr int kValueWindow = 512;
constexpr size_t kMaxValue = 25;

const unsigned char* Find(const ByteReader& span, const char* text) {
    return Apimemstr(const_cast<unsigned char*>(span.data()), static_cast<int>(span.size()),
                     reinterpret_cast<const unsigned char*>(text), static_cast<int>(strlen(text)));
}

// A letter of any script: ASCII letters, and beyond ASCII what the C.UTF-8 locale calls alphabetic
// (every character beyond ASCII when that locale is missing).
bool IsLetter(u32 c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 == static_cast<locale_t>(0)) return true;
    return iswalpha_l(static_cast<wint_t>(c), utf8) != 0;
}

// The next character of UTF-8 text at i (advanced past it); 0xFFFFFFFF for a malformed sequence.
u32 NextCharacter(const std::string& text, size_t& i) {
    const unsigned char c = static_cast<unsigned char>(text[i++]);
    if (c < 0x80) return c;
    const int trailing = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
    if (trailing < 0 || i + static_cast<size_t>(trailing) > text.size()) return 0xFFFFFFFF;
    u32 value = c & (0x3F >> trailing);
    for (int k = 0; k < trailing; ++k) {
        const unsigned char t = static_cast<unsigned char>(text[i++]);
        if ((t & 0xC0) != 0x80) return 0xFFFFFFFF;
        value = (value << 6) | (t & 0x3F);
    }
    return value;
}

}  // namespace

bool PdfTitleAnalyzer::RemoveNolessVec(const unsigned char* bytes, int length) {
    if (bytes == nullptr || length <= 0) return false;
    const int quarter = length / 4;
    const int samples[4] = {0, quarter - 1, 2 * quarter - 1, 3 * quarter - 1};
    for (int at : samples) {
        if (at < 0) at = 0;
        const unsigned char c = bytes[at];
        if ((c >= '1' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
        if (c == 0 || c == 254 || c == 255) return true;
        if (c == '\r' || c == ' ' || c == '(' || c == ')' || c == '-' || c == '.' || c == '/' || c == ':' ||
            c == '<' || c == '>') {
            return true;
        }
    }
    return false;
}

std::string PdfTitleAnalyzer::ObtainPerInfo(const unsigned char* bytes, int length) {
    if (bytes == nullptr || length <= 0) return {};
    const int window = std::min(length, kValueWindow);
    const auto* slash = static_cast<const unsigned char*>(memchr(bytes, '/', static_cast<size_t>(window)));
    const int limit = slash != nullptr ? static_cast<int>(slash - bytes) : window;
    const auto* open = static_cast<const unsigned char*>(memchr(bytes, '(', static_cast<size_t>(limit)));
    if (open == nullptr) return {};
    const auto* close = static_cast<const unsigned char*>(memchr(bytes, ')', static_cast<size_t>(limit)));
    if (close == nullptr || close <= open) return {};
    const unsigned char* text = open + 1;
    const size_t textLength = static_cast<size_t>(close - text);
    if (textLength >= 2 && text[0] == 0xFE && text[1] == 0xFF) {
        // The byte-order mark of UTF-16 big-endian text.
        const size_t units = std::min<size_t>(textLength - 2, kValueWindow) & ~size_t{1};
        return IconvToUtf8("UTF-16BE", text + 2, units, 3 * units);
    }
    return std::string(reinterpret_cast<const char*>(text), strnlen(reinterpret_cast<const char*>(text), textLength));
}

std::string PdfTitleAnalyzer::TimeChange(const std::string& date) {
    if (date.size() < 17) return {};
    for (size_t i = 2; i <= 15; ++i) {
        if (date[i] < '0' || date[i] > '9') return {};
    }
    return date.substr(2, 4) + "-" + date.substr(6, 2) + "-" + date.substr(8, 2) + " " + date.substr(10, 2) + "-" +
           date.substr(12, 2) + "-" + date.substr(14, 2);
}

bool PdfTitleAnalyzer::JudeLegalInfo(const std::string& text) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size();) {
        const u32 c = NextCharacter(text, i);
        ++characters;
        if (c == 0xFFFFFFFF) return false;
        if (IsLetter(c) || (c >= '0' && c <= '9') || c == ' ' || c == '(' || c == '-' || c == '.' || c == '_') continue;
        return false;
    }
    return characters >= 2;
}

bool PdfTitleAnalyzer::RemoveIllegalTitle(std::string& title) {
    if (std::none_of(title.begin(), title.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    title.clear();
    return true;
}

bool PdfTitleAnalyzer::SeparateInformation(const ByteReader& span, FileProperty& out) {
    const unsigned char* author = Find(span, "Author");
    const unsigned char* creator = Find(span, "Creator");
    const unsigned char* created = Find(span, "CreationDate");
    const unsigned char* modified = Find(span, "ModDate");
    const unsigned char* producer = Find(span, "Producer");
    const unsigned char* title = Find(span, "Title");
    if (!((author && creator) || (created && (author || creator || modified)))) return false;
    const unsigned char* end = span.data() + span.size();
    auto value = [&](const unsigned char* key) -> std::string {
        if (key == nullptr) return {};
        return CutUtf8(ObtainPerInfo(key, static_cast<int>(end - key)), kMaxValue);
    };
    auto person = [&](const unsigned char* key) {
        std::string text = CleanRawFileName(value(key));
        return JudeLegalInfo(text) ? text : std::string();
    };
    FileProperty read;
    read.author = person(author);
    read.creator = person(creator);
    read.created = TimeChange(value(created));
    read.modified = TimeChange(value(modified));
    read.producer = person(producer);
    read.title = person(title);
    RemoveIllegalTitle(read.title);
    if (read.author.empty() && read.creator.empty() && read.created.empty() && read.modified.empty()) return false;
    out = read;
    return true;
}

bool PdfTitleAnalyzer::ObtainPerSecPDFInformation(const ByteReader& held, int sectorSize, bool moreBuffered,
                                                  FileProperty& out) {
    if (sectorSize <= 0 || held.size() < static_cast<size_t>(sectorSize)) return false;
    if (!RemoveNolessVec(held.data(), sectorSize)) return false;
    const ByteReader sector(held.data(), static_cast<size_t>(sectorSize));
    const unsigned char* obj = Find(sector, "obj");
    if (obj == nullptr) return false;
    const size_t from = static_cast<size_t>(obj - held.data());
    m_spanLength = static_cast<u32>(std::min<size_t>(moreBuffered ? 2 * sectorSize : sectorSize, held.size() - from));
    return SeparateInformation(*held.Sub(from, m_spanLength), out);
}

}  // namespace BruteForce
