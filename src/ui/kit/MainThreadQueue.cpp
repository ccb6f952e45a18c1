#include "ui/kit/MainThreadQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace kit {

QtMainThreadQueue::QtMainThreadQueue() : m_receiver(new QObject) {}

QtMainThreadQueue::~QtMainThreadQueue() {
    // Calls still queued for the receiver are dropped with it.
    delete m_receiver;
}

void QtMainThreadQueue::Post(std::function<void()> work) {
    if (!work) return;
    // Queued events to one receiver are delivered in the order they were posted.
    QMetaObject::invokeMethod(m_receiver, std::move(work), Qt::QueuedConnection);
}

}  // namespace kit
