#include <cassert>

#include "engine/RAWSearch/Analysers/TextAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

bool EqualsNoCase(const unsigned char* bytes, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char a = bytes[i], b = static_cast<unsigned char>(text[i]);
        const unsigned char la = a >= 'A' && a <= 'Z' ? a + 32 : a;
        const unsigned char lb = b >= 'A' && b <= 'Z' ? b + 32 : b;
        if (la != lb) return false;
    }
    return true;
}

namespace {
constexpr size_t kRtfKind = 4;       // "f" of "{\rtf"
constexpr u64 kRtfWalkStart = 6;     // the first byte after "{\rtf1"
}  // namespace

int FileRTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || sector[kRtfKind] != 'f') return 0;
    info.m_type = RAW_TYPE_RTF;
    return 1;
}

// The file ends after the brace that closes the first group, unless another group follows at once.
bool FileRTFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    i64 depth = 1;
    bool closed = false;
    u64 offset = kRtfWalkStart;
    while (offset < text_rules::kRtfDeviceCap) {
        unsigned char* p = window.GetRawFileBuffer(offset);
        if (p == nullptr) {
            info.m_size = offset;
            return false;
        }
        const u64 n = std::min<u64>(window.Available(offset), text_rules::kRtfDeviceCap - offset);
        for (u64 i = 0; i < n; ++i) {
            const unsigned char c = p[i];
            if (closed) {
                if (c != '{') {
                    info.m_size = offset + i;
                    return true;
                }
                closed = false;
            }
            if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (--depth == 0) closed = true;
            }
        }
        offset += n;
    }
    info.m_size = offset;
    return true;
}

namespace RawSpeed {

int RTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || sector[kRtfKind] != 'f') return 0;
    info.m_type = RAW_TYPE_RTF;
    return 1;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateRTFAnalyser() { return new RawSpeed::RTFAnalyser(); }
