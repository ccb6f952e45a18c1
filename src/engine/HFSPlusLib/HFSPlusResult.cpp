#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/Common/DebugChannel.h"

#include <cstdio>
#include <cstring>

i64 FormatError(i64 code, const char* sourceFile, i64 line, const char* function) {
    const char* name = sourceFile ? sourceFile : "";
    for (const char* p = name; *p; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    EngineDebug("Return Error:0x%llx\tFile:%s\tLine:%lld\tFuction:%s\n", static_cast<unsigned long long>(code), name,
                static_cast<long long>(line), function ? function : "");
    return code;
}

namespace hfsplus {

std::string DescribeFailure(u64 code) {
    if (!result::IsFailure(code) || result::ModuleOf(code) != result::kModuleHFSPlus) return {};
    std::string what;
    switch (result::SiteOf(code)) {
        case kSiteVolumeHeader: what = "the HFS+ volume header"; break;
        case kSiteExtentsFile: what = "the HFS+ extents overflow file"; break;
        case kSiteAttributesFile: what = "the HFS+ attributes file"; break;
        case kSiteCatalogFile: what = "the HFS+ catalog file"; break;
        default: what = "the HFS+ volume"; break;
    }
    switch (result::KindOf(code)) {
        case kKindBadData:
        case kKindNotReady: return what + " is damaged";
        case kKindShortRead:
        case kKindReadFailed: return what + " cannot be read";
        case kKindNoMemory: return what + " does not fit in memory";
        case kKindStopped: return "the HFS+ search was stopped";
        default: return what + " cannot be used";
    }
}

}  // namespace hfsplus
