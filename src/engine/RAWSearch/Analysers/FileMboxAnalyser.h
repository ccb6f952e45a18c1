// Mailboxes: the file ends after the text that closes its last message in a unit that runs into zeros.
#pragma once

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace mbox_layout {
inline constexpr u64 kUnit = 512;
inline constexpr u64 kDeviceCap = 0xD000000;
}  // namespace mbox_layout

class FileMboxAnalyser : public IRawFileAnalyser {
public:
    FileMboxAnalyser() : IRawFileAnalyser(RAW_TYPE_MBOX) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // Where the mailbox ends in a unit whose last word is zero: after "--" LF LF (and up to two more
    // line feeds) or after ".com>" LF LF; 0 when neither is there.
    static u64 EndInUnit(const unsigned char* unit);
};
