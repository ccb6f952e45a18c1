#include "engine/RAWSearch/Analysers/FileMboxAnalyser.h"

#include <cassert>
#include <cctype>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace mbox_layout;

int FileMboxAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (!ByteReader(sector, kUnit).Equals(0, "From ")) return 0;
    // A message's "From " line is followed by its header lines ("Name:"): prose that happens to begin a
    // sector with "From " is not taken (its walk would find no end and run on for hundreds of MiB).
    const auto* lineEnd = static_cast<const unsigned char*>(memchr(sector, '\n', kUnit));
    if (lineEnd == nullptr) return 0;
    u64 at = static_cast<u64>(lineEnd - sector) + 1;
    if (at >= kUnit || std::isalpha(sector[at]) == 0) return 0;
    while (at < kUnit && (std::isalnum(sector[at]) != 0 || sector[at] == '-')) ++at;
    if (at >= kUnit || sector[at] != ':') return 0;
    info.m_type = RAW_TYPE_MBOX;
    return 1;
}

u64 FileMboxAnalyser::EndInUnit(const unsigned char* unit) {
    const ByteReader u(unit, kUnit);
    auto find = [&](const char* text, u64 length) -> i64 {
        for (u64 at = 0; at + length <= kUnit; ++at) {
            if (u.Equals(at, text, length)) return static_cast<i64>(at);
        }
        return -1;
    };
    if (const i64 at = find("--\n\n", 4); at >= 0) {
        u64 end = static_cast<u64>(at) + 4;
        for (int more = 0; more < 2 && u.U8(end) == u8{'\n'}; ++more) ++end;
        return end;
    }
    if (const i64 at = find(".com>\n\n", 7); at >= 0) return static_cast<u64>(at) + 7;
    return 0;
}

bool FileMboxAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char unit[kUnit];
    u64 offset = 0;
    while (offset < kDeviceCap) {
        if (!window.CopyOut(offset, unit, kUnit)) break;
        if (ByteReader(unit, kUnit).Le32(kUnit - 4) == 0u) {
            if (const u64 end = EndInUnit(unit); end != 0) {
                info.m_size = offset + end;
                info.m_type = RAW_TYPE_MBOX;
                return true;
            }
        }
        offset += kUnit;
    }
    info.m_type = RAW_TYPE_MBOX;
    info.m_size = offset;
    return true;
}

IRawFileAnalyser* CreateFileMboxAnalyser() { return new FileMboxAnalyser(); }
