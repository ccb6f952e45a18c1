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
