#include "bridge/Notify/CProgressNotify.h"

#include "bridge/Utilities/KXUIPublic.h"

namespace {

constexpr int kBadSectorCentreType = EVENT_BAD_SECTOR;

}  // namespace

CProgressNotify::CProgressNotify() : m_messageCenter(CMessageCenter::Instance()) {
    // A centre of another kind under type 1 cannot take observers: it is replaced.
    m_centre = dynamic_cast<CMyNotifyCenter*>(m_messageCenter->GetNotifyCenter(kBadSectorCentreType));
    if (!m_centre) m_centre = CMyNotifyCenter::Instance();
    m_centre->SetType(kBadSectorCentreType);
    m_centre->AddObserver(this);
    m_messageCenter->UpdateNotifyCenter(kBadSectorCentreType, m_centre);
}

CProgressNotify::~CProgressNotify() {
    // After RemoveObserver no delivery is inside Notify below, and none will come.
    m_centre->RemoveObserver(this);
    if (!m_messageCenter || m_centre->ObserverCount() != 0) return;
    if (m_messageCenter->GetNotifyCenter(kBadSectorCentreType) == m_centre)
        m_messageCenter->UnregisterNotifyCenter(kBadSectorCentreType);
}

void CProgressNotify::Notify(int type, void* /*data*/) {
    if (type != EVENT_BAD_SECTOR) return;
    // This runs on the engine queue's delivery thread with its lock held. Posting through the
    // main-thread queue (of the centre all notifications of this layer go through) only enqueues:
    // observers run later on the main thread, where window code belongs, and can never block the
    // engine's producers or call back into the queue under its lock.
    KXUIPublic::NotifyMainThread(kBadSectorNotify);
}
