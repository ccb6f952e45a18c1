// Mailboxes: text from a "From " line with header lines after it, ending where the text runs into
// zeros or into a sector that is not mail text.
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
    // True for the bytes mail text holds: printable ASCII, 8-bit text, tab, line ends, form feed and
    // the escape of 7-bit national character sets.
    static bool IsMailTextByte(u8 c);
    // Where the mail text of a unit ends: the unit's length when all of it is text; the offset of its
    // first byte that is not text when only zeros follow it; -1 when other bytes follow (the unit is not
    // mail text).
    static i64 TextEndInUnit(const unsigned char* unit, u64 length);
};
