#include "engine/RAWSearch/Util/IconvText.h"

#include <iconv.h>

#include <cstring>
#include <vector>

std::string IconvToUtf8(const char* from, const unsigned char* data, size_t length, size_t outLimit) {
    if (data == nullptr || length == 0 || outLimit == 0) return {};
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::vector<char> in(data, data + length);
    std::vector<char> out(outLimit);
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    // Stops at an invalid or incomplete sequence, or when the output is full: what was converted stays.
    iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    std::string text(out.data(), out.size() - outLeft);
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

std::string CutUtf8(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    // Back to the first byte of the character that would be cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}
