#include "engine/DataRecovery/RecoveryLog.h"

#include <cstdarg>
#include <cstdio>

#include "engine/Common/CatchExeception.h"

void RecoveryLog(const char* format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    CatchExeception::Instance()->WriteLog("%s", line);
}
