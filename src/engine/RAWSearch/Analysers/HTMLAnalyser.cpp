#include <cassert>
#include <cstring>

#include "engine/RAWSearch/Analysers/TextAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace {

// UTF-16LE text compared with ASCII text without regard to case.
bool Utf16EqualsNoCase(const unsigned char* bytes, const char* text, size_t characters) {
    for (size_t i = 0; i < characters; ++i) {
        if (bytes[2 * i + 1] != 0 || !EqualsNoCase(bytes + 2 * i, text + i, 1)) return false;
    }
    return true;
}

}  // namespace

bool FileHTMAnalyser::IsHtmlStart(const unsigned char* sector) {
    return EqualsNoCase(sector, "<HTML", 5) || EqualsNoCase(sector, "<!DOCTYPE HTML", 14);
}

int FileHTMAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || !IsHtmlStart(sector)) return 0;
    info.m_type = RAW_TYPE_HTM;
    return 1;
}

bool FileHTMAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    SearchSignCodeInfo sign;
    memcpy(sign.sign, "</html>", 7);
    sign.length = 7;
    sign.maxSize = text_rules::kHtmlDeviceCap;
    SearchSignFileAnalyser::SearchEndSignCode(info, device, sign, 0);
    if (info.m_size == 0) return false;
    // The text after the closing tag up to the zeros that pad its sector is the page's too (its line end,
    // a trailing comment); where no zero follows in the sector, only the blanks after the tag are.
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    const u64 sectorSize = window.GetSectorSize();
    const u64 left = sectorSize - info.m_size % sectorSize;
    const unsigned char* p = window.GetRawFileBuffer(info.m_size);
    if (p == nullptr || left == sectorSize) return true;
    if (const void* zero = memchr(p, 0, left)) {
        info.m_size += static_cast<u64>(static_cast<const unsigned char*>(zero) - p);
        return true;
    }
    for (u64 i = 0; i < left && (p[i] == '\n' || p[i] == '\r' || p[i] == ' ' || p[i] == '\t'); ++i) ++info.m_size;
    return true;
}

int FileUnicodeHTMAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr unsigned char kStart[4] = {0xFF, 0xFE, '<', 0};
    if (sector == nullptr || memcmp(sector, kStart, sizeof(kStart)) != 0) return 0;
    info.m_type = RAW_TYPE_HTM;
    return 1;
}

// "<HTML>" near the start (after a doctype when not at once), then the closing tag or the first
// character that cannot be text ends the file.
bool FileUnicodeHTMAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char head[512];
    if (!window.CopyOut(0, head, sizeof(head))) return false;
    bool opened = false;
    for (size_t at = 2; at <= 498 && !opened; at += 2) {
        opened = Utf16EqualsNoCase(head + at, "<HTML>", 6) && (at == 2 || (head[4] == '!' && head[5] == 0));
    }
    if (!opened) return false;
    unsigned char prev[14] = {};  // the 14 bytes before the current character
    u64 offset = 14;
    if (!window.CopyOut(0, prev, sizeof(prev))) return false;
    while (offset < text_rules::kUnicodeHtmlCap) {
        unsigned char* p = window.GetRawFileBuffer(offset);
        if (p == nullptr) return false;
        const u64 n = std::min<u64>(window.Available(offset), text_rules::kUnicodeHtmlCap - offset) & ~u64{1};
        if (n == 0) return false;
        for (u64 i = 0; i < n; i += 2) {
            const u16 c = static_cast<u16>(p[i] | (p[i + 1] << 8));
            if (c == 0x0000 || c == 0xFFFF || c == 0xFEFF) {
                info.m_size = offset + i;
                return true;
            }
            memmove(prev, prev + 2, 12);
            prev[12] = p[i];
            prev[13] = p[i + 1];
            if (Utf16EqualsNoCase(prev, "</HTML>", 7)) {
                info.m_size = offset + i + 2 - 14 + 16;
                return true;
            }
        }
        offset += n;
    }
    info.m_size = offset;
    return true;
}

namespace RawSpeed {

int HTMLAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    bool html = FileHTMAnalyser::IsHtmlStart(sector);
    if (!html && sector[0] == 0xFF && sector[1] == 0xFE) {
        html = Utf16EqualsNoCase(sector + 2, "<HTML>", 6) || Utf16EqualsNoCase(sector + 2, "<!", 2);
    }
    if (!html) return 0;
    info.m_type = RAW_TYPE_HTM;
    return 1;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateHTMLAnalyser() { return new RawSpeed::HTMLAnalyser(); }
IRawFileAnalyser* CreateFileUnicodeHTMAnalyser() { return new FileUnicodeHTMAnalyser(); }
