#include "engine/RAWSearch/Core/NotifyCenter.h"

#include "engine/Common/IProgress.h"

CNotifyCenter& CNotifyCenter::Instance() {
    static CNotifyCenter center;
    return center;
}

int CNotifyCenter::isContinue() {
    if (m_progress == nullptr) return 1;
    return m_progress->Continued() != 0 ? 1 : 0;
}
