// The progress of a save or a load: a record that starts at 5 of 100, grows by one at most every 100
// ticks and stays at 98 or below until the end, and the final record with the error code.
//
// Codes: 0 done; 1 no archive object; 2 the file could not be opened; 3 bad header or status 0;
// 4 frame 1 missing or bad; 5 frame 2 or 3 missing or bad; 6 the EDI image of the result was not
// found; 7 the scanned disk, volume or image was not found; 8 the save did not complete; 9 the save
// was refused: its file would lie on the scanned device.
#pragma once

#include <functional>

#include "engine/Common/IProgress.h"
#include "engine/Common/Types.h"

namespace SaveRestoreResult {

class SaveRestoreProgress {
public:
    static constexpr u64 kTotal = 100;
    static constexpr u64 kStart = 5;
    static constexpr u32 kStepTicks = 100;

    // ticks: the tick source (GetTickCount when empty).
    explicit SaveRestoreProgress(IProgress* sink, std::function<u32()> ticks = {});

    // The three calls of the stepper; each hands the record to the sink and answers its result (a
    // skipped step answers 0).
    int Started();
    int Step();
    int Finished();
    // Records a failure: a finished record with the code (the Finished() that follows repeats it).
    int TipError(int code);

    int ErrorCode() const { return m_errorCode; }

private:
    int Send();

    IProgress* m_sink;
    std::function<u32()> m_ticks;
    _PROGRESS_INFO m_record{};
    u32 m_lastStep = 0;
    int m_errorCode = 0;
};

}  // namespace SaveRestoreResult
