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

bool FileMboxAnalyser::IsMailTextByte(u8 c) {
    return c >= 0x20 ? c != 0x7F : c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == 0x1B;
}

i64 FileMboxAnalyser::TextEndInUnit(const unsigned char* unit, u64 length) {
    u64 at = 0;
    while (at < length && IsMailTextByte(unit[at])) ++at;
    for (u64 rest = at; rest < length; ++rest) {
        if (unit[rest] != 0) return -1;
    }
    return static_cast<i64>(at);
}

bool FileMboxAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char unit[kUnit];
    u64 offset = 0;
    // Unit after unit while all of it is mail text: the text running into zeros ends the mailbox, and so
    // does a unit that is not text (the next file, or data that overwrote the rest).
    while (offset < kDeviceCap) {
        if (!window.CopyOut(offset, unit, kUnit)) break;
        const i64 end = TextEndInUnit(unit, kUnit);
        if (end < 0) {
            // The first unit was taken for its "From " line: what of it is text is the mailbox.
            if (offset == 0) {
                u64 text = 0;
                while (text < kUnit && IsMailTextByte(unit[text])) ++text;
                offset = text;
            }
            break;
        }
        if (static_cast<u64>(end) < kUnit) {
            offset += static_cast<u64>(end);
            break;
        }
        offset += kUnit;
    }
    info.m_type = RAW_TYPE_MBOX;
    info.m_size = offset;
    return offset != 0;
}

IRawFileAnalyser* CreateFileMboxAnalyser() { return new FileMboxAnalyser(); }
