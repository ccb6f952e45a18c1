// The progress sink through which every engine reports to the operation that runs it, and the
// fixed record it hands over.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

enum PROGRESS_STATUS : u32 {
    PROGRESS_FIRST_BLOCK = 0,  // first record of a deep scan's block pass (or before a first step)
    PROGRESS_RUNNING = 2,      // started or in progress
    PROGRESS_FINISHED = 3,     // the last record of a task
};

// Senders zero-fill the whole record before setting its fields; nobody writes into `detail`.
struct _PROGRESS_INFO {
    u32 status;
    u64 total;
    u64 current;
    i64 errorCode;
    char detail[4096];
};
static_assert(sizeof(_PROGRESS_INFO) == 4128, "the progress record is 4128 bytes");
static_assert(offsetof(_PROGRESS_INFO, total) == 8);
static_assert(offsetof(_PROGRESS_INFO, errorCode) == 24);
static_assert(offsetof(_PROGRESS_INFO, detail) == 32);

// A zeroed record of the given status; the usual way for an engine to start one.
inline _PROGRESS_INFO MakeProgressInfo(u32 status, u64 total, u64 current, i64 errorCode = 0) {
    _PROGRESS_INFO info{};
    info.status = status;
    info.total = total;
    info.current = current;
    info.errorCode = errorCode;
    return info;
}

class IProgress {
public:
    virtual ~IProgress() = default;
    // Copies the record into the operation; the engine ignores the answer.
    virtual int UpdateProgress(_PROGRESS_INFO* record) = 0;
    // Non-zero while the engine may go on; blocks while the operation is paused.
    virtual int Continued() = 0;
    // Non-zero when searchers are to build their trees at the end of a scan.
    virtual int shouldBuild() = 0;
};
