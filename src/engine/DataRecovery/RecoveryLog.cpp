#include "engine/DataRecovery/RecoveryLog.h"

#include <cstdarg>
#include <cstdio>

void RecoveryLog(const char* format, ...) {
    // Until the process log is linked in, lines are formatted and dropped.
    char line[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
}
