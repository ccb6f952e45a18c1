#include "ui/kit/KeepAwake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <atomic>

namespace kit {

namespace {

KeepAwake* g_current = nullptr;

// Each object has its own connection, named apart from every other.
QString NewConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("brelvox-keep-awake-%1").arg(next++);
}

}  // namespace

KeepAwake& KeepAwake::current() {
    if (g_current) return *g_current;
    // Never destroyed: D-Bus is gone by the time static objects die; the hold ends with the process.
    static auto* desktop = new DBusKeepAwake;
    return *desktop;
}

void KeepAwake::setCurrent(KeepAwake* hold) { g_current = hold; }

DBusKeepAwake::DBusKeepAwake(QString busAddress) : m_busAddress(std::move(busAddress)) {}

DBusKeepAwake::~DBusKeepAwake() {
    release();
    if (!m_connectionName.isEmpty()) QDBusConnection::disconnectFromBus(m_connectionName);
}

bool DBusKeepAwake::take(const std::string& reason) {
    if (m_cookie) return true;
    if (m_connectionName.isEmpty()) {
        m_connectionName = NewConnectionName();
        if (m_busAddress.isEmpty()) {
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName);
        } else {
            QDBusConnection::connectToBus(m_busAddress, m_connectionName);
        }
    }
    QDBusConnection bus(m_connectionName);
    if (!bus.isConnected()) return false;
    QDBusMessage inhibit = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Inhibit"));
    const QString application = QCoreApplication::applicationName().isEmpty() ? QStringLiteral("Brelvox")
                                                                               : QCoreApplication::applicationName();
    inhibit << application << QString::fromStdString(reason);
    const QDBusMessage reply = bus.call(inhibit, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) return false;
    bool isNumber = false;
    const std::uint32_t cookie = reply.arguments().front().toUInt(&isNumber);
    if (!isNumber) return false;
    m_cookie = cookie;
    return true;
}

void DBusKeepAwake::release() {
    if (!m_cookie) return;
    QDBusConnection bus(m_connectionName);
    QDBusMessage unInhibit = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("UnInhibit"));
    unInhibit << *m_cookie;
    m_cookie.reset();
    // A service that does not answer in time ends the hold anyway when our connection closes.
    if (bus.isConnected()) bus.call(unInhibit, QDBus::Block, kCallTimeoutMs);
}

}  // namespace kit
