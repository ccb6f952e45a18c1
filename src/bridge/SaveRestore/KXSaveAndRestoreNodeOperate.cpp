#include "bridge/SaveRestore/KXSaveAndRestoreNodeOperate.h"

#include <cstdio>

KXSaveAndRestoreNodeOperate& KXSaveAndRestoreNodeOperate::instance() {
    static auto* operation = new KXSaveAndRestoreNodeOperate();
    return *operation;
}

int KXSaveAndRestoreNodeOperate::UpdateProgress(_PROGRESS_INFO* record) {
    if (!TakeProgressRecord(record)) return 0;
    if (record->status == PROGRESS_FINISHED) {
        SetStatus(OP_IDLE);
        std::printf("=====Scan Progress finished!=====\n");
    }
    SetNeedUIUpdate(1);
    return 0;
}
