#include "engine/HFSPlusLib/HFSPlusNames.h"

#include <iconv.h>

#include <cstring>

namespace hfsplus {

namespace {

// One converter per thread, opened on first use: opening one per name would cost more than the walk.
class Utf16Converter {
public:
    Utf16Converter() : m_cd(iconv_open("UTF-8", "UTF-16LE")) {}
    ~Utf16Converter() {
        if (Ready()) iconv_close(m_cd);
    }
    bool Ready() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

}  // namespace

std::string NameToUtf8(const u16* units, size_t count) {
    thread_local Utf16Converter converter;
    if (!units || count == 0 || !converter.Ready()) return {};
    char in[2 * 256];
    count = count > 255 ? 255 : count;
    for (size_t i = 0; i < count; ++i) {
        in[2 * i] = static_cast<char>(units[i] & 0xFF);
        in[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    char out[1024] = {};
    char* inPtr = in;
    size_t inLeft = 2 * count;
    char* outPtr = out;
    size_t outLeft = sizeof out - 1;
    iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
    iconv(converter.Get(), &inPtr, &inLeft, &outPtr, &outLeft);
    return std::string(out, size_t(outPtr - out));
}

}  // namespace hfsplus
