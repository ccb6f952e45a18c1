// Result codes of the storage devices (module 0x0e).
#pragma once

#include "engine/Common/ResultCode.h"

namespace storage_codes {

constexpr u64 Code(u16 site, u32 kind) { return result::Make(result::kModuleStorage, site, kind); }

// The codes of a private-data record that is missing, of another kind, or empty.
struct RecordCodes {
    u64 noPrivateData;
    u64 wrongDataKind;
    u64 noRecord;
};

// The codes one device class uses, so the shared code paths report the class's own sites.
struct DeviceCodes {
    u64 open;          // the system refused the open
    u64 read;          // the system refused a read
    u64 badArgument;   // bad read arguments
    u64 ioctl;         // IOCtl is not supported
    u64 noPrivateData;
    u64 wrongDataKind;
    u64 noRecord;

    constexpr RecordCodes Record() const { return {noPrivateData, wrongDataKind, noRecord}; }
};

inline constexpr DeviceCodes kDisk{Code(0x044, 1), Code(0x0c4, 1), Code(0x094, 5), Code(0x0de, 3),
                                   Code(0x119, 7), Code(0x121, 7), Code(0x129, 7)};
inline constexpr DeviceCodes kVolume{Code(0x04a, 1), Code(0x0cc, 1), Code(0x09b, 5), Code(0x0e6, 3),
                                     Code(0x121, 7), Code(0x129, 7), Code(0x131, 7)};
inline constexpr DeviceCodes kImage{Code(0x043, 1), Code(0x084, 1), Code(0x071, 5), Code(0x09e, 3),
                                    Code(0x0da, 7), Code(0x0e2, 7), Code(0x0ea, 7)};

// The two partition windows.
struct PartitionCodes {
    u64 noParent;
    u64 nullBuffer;
    u64 firstOutOfRange;
    u64 countTooLarge;
    u64 ioctl;
    u64 noPrivateData;
    u64 wrongDataKind;
    u64 noRecord;
    // The parent's disk record, read at open: no parent, no private data, wrong kind, null record.
    u64 parentMissing;
    u64 parentNoPrivateData;
    u64 parentWrongDataKind;
    u64 parentNoRecord;

    constexpr RecordCodes Record() const { return {noPrivateData, wrongDataKind, noRecord}; }
    constexpr RecordCodes ParentRecord() const { return {parentNoPrivateData, parentWrongDataKind, parentNoRecord}; }
};

inline constexpr PartitionCodes kPartition{Code(0x069, 7), Code(0x070, 5), Code(0x096, 5), Code(0x09c, 5),
                                           Code(0x0ac, 3), Code(0x112, 7), Code(0x11a, 7), Code(0x122, 7),
                                           Code(0x0e5, 7), Code(0x0ed, 7), Code(0x0f5, 7), Code(0x0fd, 7)};
inline constexpr PartitionCodes kPartitionVolume{Code(0x06d, 7), Code(0x074, 5), Code(0x09a, 5), Code(0x0a0, 5),
                                                 Code(0x0b0, 3), Code(0x116, 7), Code(0x11e, 7), Code(0x126, 7),
                                                 Code(0x0e9, 7), Code(0x0f1, 7), Code(0x0f9, 7), Code(0x101, 7)};

}  // namespace storage_codes
