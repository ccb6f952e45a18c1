// 64-bit engine result codes.
//
// From the most significant byte: byte 7 is 0x01 on failure (0 on success), byte 6 names the module,
// bytes 4-5 tell the failing site apart, bytes 0-3 give the kind. Callers test byte 7 only.
#pragma once

#include "engine/Common/Types.h"

namespace result {

// Modules (byte 6).
enum Module : u8 {
    kModuleNone = 0x00,
    kModuleController = 0x02,     // user-interface controller class of the operations layer
    kModuleEnumDevice = 0x03,
    kModuleRecoveryController = 0x04,
    kModuleHFSPlus = 0x05,
    kModuleFATSearch = 0x0a,
    kModuleDataRecovery = 0x0d,
    kModuleStorage = 0x0e,
    kModulePartitionTable = 0x10,
    kModuleNTFSQuick = 0x12,
};

// Kinds (bytes 0-3) shared by devices and controllers.
enum Kind : u32 {
    kKindSystemRefused = 1,
    kKindNotSupported = 3,
    kKindNoMemory = 4,
    kKindBadArgument = 5,
    kKindMissingObject = 7,
    kKindNoQuickSearcher = 0x401,
    kKindNoDeepSearcher = 0x402,
    kKindBadScanArguments = 0x403,
    kKindWholeDiskForQuickScan = 0x404,
    kKindWriteFailed = 0xD03,
};

inline constexpr u64 kSuccess = 0;
// A failure without module or kind.
inline constexpr u64 kGenericFailure = 0x0100000000000000ULL;

constexpr u64 Make(u8 module, u16 site, u32 kind) {
    return (u64{0x01} << 56) | (u64{module} << 48) | (u64{site} << 32) | u64{kind};
}
constexpr bool IsFailure(u64 code) { return (code >> 56) == 0x01; }
constexpr bool IsSuccess(u64 code) { return !IsFailure(code); }
constexpr u8 FailureByte(u64 code) { return static_cast<u8>(code >> 56); }
constexpr u8 ModuleOf(u64 code) { return static_cast<u8>(code >> 48); }
constexpr u16 SiteOf(u64 code) { return static_cast<u16>(code >> 32); }
constexpr u32 KindOf(u64 code) { return static_cast<u32>(code); }

}  // namespace result
