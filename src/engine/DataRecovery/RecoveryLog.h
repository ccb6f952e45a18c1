// One line to the process log from the file readers and the data-recovery object.
#pragma once

void RecoveryLog(const char* format, ...) __attribute__((format(__printf__, 1, 2)));
