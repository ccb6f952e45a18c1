// Result codes of the HFS+ library and its searchers, and the error line every failure site writes.
#pragma once

#include <string>

#include "engine/Common/ResultCode.h"
#include "engine/Common/Types.h"

namespace hfsplus {

// Kinds (low 32 bits of a failure code).
enum ResultKind : u32 {
    kKindNotReady = 0x2,       // a member the operation needs is missing; also a fresh object's status
    kKindUnsupported = 0x3,    // a special-file ID the operation does not serve
    kKindNoMemory = 0x4,
    kKindNullArgument = 0x5,
    kKindBadData = 0x6,        // on-disk data not as expected
    kKindStopped = 0xd,        // stopped by the user
    kKindShortRead = 0xe,
    kKindReadFailed = 0x501,   // a device read failed, or the journal is absent or unusable
};

constexpr u64 Code(u16 site, u32 kind) { return result::Make(result::kModuleHFSPlus, site, kind); }

// The status of an object before its first operation.
inline constexpr u64 kNotReady = Code(0, kKindNotReady);

// Sites of the steps of a volume's opening: a failed step keeps its kind and takes its step's site, so
// that what failed can be told in words (other sites are source lines).
enum OpenSite : u16 {
    kSiteVolumeHeader = 0xFF01,
    kSiteExtentsFile = 0xFF02,
    kSiteAttributesFile = 0xFF03,
    kSiteCatalogFile = 0xFF04,
};
constexpr u64 AtStep(u16 site, u64 code) { return result::IsFailure(code) ? Code(site, result::KindOf(code)) : code; }

// What an HFS+ failure code says, in words ("the HFS+ catalog file is damaged"); empty for a code of
// another module.
std::string DescribeFailure(u64 code);

}  // namespace hfsplus

// Writes "Return Error:0x<code>\tFile:<file name>\tLine:<line>\tFuction:<function>" and a line break to
// standard output; answers the code unchanged.
i64 FormatError(i64 code, const char* sourceFile, i64 line, const char* function);

// The failure code of this site (its line) with the given kind, written out through FormatError.
#define HFSPLUS_FAIL(kind) \
    static_cast<u64>(FormatError(static_cast<i64>(hfsplus::Code(static_cast<u16>(__LINE__), (kind))), __FILE__, \
                                 __LINE__, __func__))
// The same code without the error line (sites that fail quietly).
#define HFSPLUS_QUIET(kind) hfsplus::Code(static_cast<u16>(__LINE__), (kind))
