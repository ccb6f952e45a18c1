// The foundation's main-thread queue over Qt's event loop: Post may be called from any thread; the
// work runs on the GUI thread, in the order each thread posted it, as a queued call.
#pragma once

#include <QObject>
#include <functional>

#include "platform/foundation/MainThreadQueue.h"

namespace kit {

class QtMainThreadQueue : public brelvox::foundation::IMainThreadQueue {
public:
    // Needs a QCoreApplication; the receiver lives on the thread that makes the queue.
    QtMainThreadQueue();
    ~QtMainThreadQueue() override;

    void Post(std::function<void()> work) override;

    // The object the queued calls are delivered to (also a context for the kit's connections).
    QObject* receiver() const { return m_receiver; }

private:
    QObject* m_receiver;
};

}  // namespace kit
