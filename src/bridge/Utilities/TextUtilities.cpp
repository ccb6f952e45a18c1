#include "bridge/Utilities/TextUtilities.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <vector>

#include "engine/Common/SafeName.h"

size_t UTF82WCHAR(char** in, size_t* inLength, char** out, size_t* outLength) {
    iconv_t cd = iconv_open("WCHAR_T", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return static_cast<size_t>(-1);
    const size_t result = iconv(cd, in, inLength, out, outLength);
    iconv_close(cd);
    return result;
}

namespace bridge_text {

namespace {

// Decodes UTF-8 into code points; a byte that starts no valid sequence stands for itself
// (offset into a private range so it never equals a real character).
std::vector<char32_t> Decode(const std::string& text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned c = *p;
        int follow = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        char32_t cp = follow == 0 ? c : follow == 1 ? (c & 0x1F) : follow == 2 ? (c & 0x0F) : (c & 0x07);
        bool ok = follow >= 0 && end - p > follow;
        for (int i = 1; ok && i <= follow; ++i) {
            if ((p[i] & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (!ok) {
            out.push_back(0x110000 + c);
            ++p;
            continue;
        }
        out.push_back(cp);
        p += follow + 1;
    }
    return out;
}

locale_t FoldingLocale() {
    static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return loc;
}

char32_t Fold(char32_t c) {
    if (c >= 0x110000) return c;
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    locale_t loc = FoldingLocale();
    return loc ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), loc)) : c;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c >= 0x110000) {
        out += static_cast<char>(c - 0x110000);  // an undecodable byte, as it was
    } else if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string ToLower(const std::string& text) {
    // Plain ASCII (most names and every catalogued extension) folds byte by byte.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string out = text;
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        return out;
    }
    std::string out;
    out.reserve(text.size());
    for (char32_t c : Decode(text)) AppendUtf8(out, Fold(c));
    return out;
}

bool ContainsIgnoringCase(const std::string& text, const std::string& needle) {
    if (needle.empty()) return true;
    std::vector<char32_t> hay = Decode(text), pin = Decode(needle);
    std::transform(hay.begin(), hay.end(), hay.begin(), Fold);
    std::transform(pin.begin(), pin.end(), pin.begin(), Fold);
    return std::search(hay.begin(), hay.end(), pin.begin(), pin.end()) != hay.end();
}

std::string CutAtUtf8Boundary(const std::string& text, size_t maxBytes) {
    return safename::CutAtUtf8Boundary(text, maxBytes);
}

}  // namespace bridge_text
