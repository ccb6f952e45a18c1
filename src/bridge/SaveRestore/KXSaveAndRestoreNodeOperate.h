// The operation that receives a save's progress: the windows poll it like any other operation.
#pragma once

#include "bridge/Operation/KXUIOperation.h"

class KXSaveAndRestoreNodeOperate : public KXUIOperation {
public:
    // The one instance; never destroyed, so no thread can outlive it.
    static KXSaveAndRestoreNodeOperate& instance();

    // Keeps the record; the finished record returns the operation to idle. Always 0.
    int UpdateProgress(_PROGRESS_INFO* record) override;
    // A save is neither paused nor stopped by the windows: always 1.
    int Continued() override { return 1; }

    KXSaveAndRestoreNodeOperate() = default;
};
