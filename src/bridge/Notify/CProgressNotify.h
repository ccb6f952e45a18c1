// Turns the engine's bad-sector events (type 1) into the notification "BadSectorNotify" while a scan
// runs. The scan worker makes one before the scan and destroys it after; delivery is started before
// and stopped after.
#pragma once

#include "bridge/Notify/CMyNotifyCenter.h"
#include "bridge/Notify/INotifyObserver.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/Common/MessageCenter.h"

using ui_notification::kBadSectorNotify;

class CProgressNotify : public INotifyObserver {
public:
    // Observes the centre registered under type 1 with the engine queue, registering the
    // process-wide centre there when there is none.
    CProgressNotify();
    // Stops observing; when no observer is left, the centre is unregistered from the engine queue.
    // Nothing of the centre is freed, so no event being delivered can reach freed memory.
    ~CProgressNotify() override;
    CProgressNotify(const CProgressNotify&) = delete;
    CProgressNotify& operator=(const CProgressNotify&) = delete;

    // Type 1 queues "BadSectorNotify" for the main thread and returns at once; other
    // types are ignored.
    void Notify(int type, void* data) override;

private:
    CMessageCenter* m_messageCenter;
    CMyNotifyCenter* m_centre = nullptr;
};
