// The keep-awake hold over the desktop's D-Bus screen-saver service: headless it is not taken; on a
// private bus of our own (dbus-daemon) with a stand-in service it is taken with the program's name
// and reason, and given back with the service's cookie.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <mutex>

#include "ui/kit/KeepAwake.h"
#include "uisupport/FakeServices.h"

namespace {

// A bus of our own for the test's lifetime.
class PrivateBus {
public:
    PrivateBus() {
        m_daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1",
                                       "--address=unix:path=" + m_dir.filePath("bus")});
        // The address is the daemon's first line, once it listens.
        while (m_daemon.waitForReadyRead(30000)) {
            m_output += m_daemon.readAllStandardOutput();
            if (m_output.contains('\n')) break;
        }
        m_address = QString::fromUtf8(m_output).section('\n', 0, 0).trimmed();
    }
    ~PrivateBus() {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
    const QString& address() const { return m_address; }
    QString missingAddress() const { return "unix:path=" + m_dir.filePath("no-bus-here"); }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QByteArray m_output;
    QString m_address;
};

// org.freedesktop.ScreenSaver on its own thread (the hold's calls block the main thread).
class FakeScreenSaver : public QDBusVirtualObject {
public:
    explicit FakeScreenSaver(const QString& address) {
        moveToThread(&m_thread);
        m_thread.start();
        QDBusConnection bus = QDBusConnection::connectToBus(address, "fake-screen-saver");
        m_registered = bus.registerService(kit::DBusKeepAwake::kService) &&
                       bus.registerVirtualObject(kit::DBusKeepAwake::kPath, this, QDBusConnection::SingleNode);
    }
    ~FakeScreenSaver() override {
        QDBusConnection::disconnectFromBus("fake-screen-saver");
        m_thread.quit();
        m_thread.wait();
    }
    bool registered() const { return m_registered; }
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_calls;
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        std::string call = message.member().toStdString();
        for (const QVariant& argument : message.arguments()) call += " " + argument.toString().toStdString();
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_calls.push_back(call);
        }
        if (message.member() == "Inhibit") return connection.send(message.createReply(QVariant::fromValue(uint(++m_cookie + 40))));
        return connection.send(message.createReply());
    }

private:
    QThread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
    uint m_cookie = 0;
    bool m_registered = false;
};

TEST(KeepAwake, HeadlessTheHoldIsNotTaken) {
    PrivateBus bus;
    kit::DBusKeepAwake noBus(bus.missingAddress());
    EXPECT_FALSE(noBus.take("Brelvox is running"));
    EXPECT_FALSE(noBus.isHeld());
    noBus.release();
    // A bus without the service: not taken either.
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    kit::DBusKeepAwake noService(bus.address());
    EXPECT_FALSE(noService.take("Brelvox is running"));
    EXPECT_FALSE(noService.isHeld());
}

TEST(KeepAwake, TheServiceGetsTheProgramAndReasonAndTheCookieBack) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    FakeScreenSaver service(bus.address());
    ASSERT_TRUE(service.registered());
    const std::string program = QCoreApplication::applicationName().toStdString();
    {
        kit::DBusKeepAwake hold(bus.address());
        EXPECT_TRUE(hold.take("Brelvox is running"));
        EXPECT_TRUE(hold.isHeld());
        EXPECT_TRUE(hold.take("again")) << "held already: nothing asked";
        hold.release();
        EXPECT_FALSE(hold.isHeld());
        hold.release();
        EXPECT_TRUE(hold.take("Brelvox is running"));
        // Going, the object gives its hold back.
    }
    EXPECT_EQ(service.calls(), (std::vector<std::string>{"Inhibit " + program + " Brelvox is running", "UnInhibit 41",
                                                         "Inhibit " + program + " Brelvox is running", "UnInhibit 42"}));
}

TEST(KeepAwake, TheRecordingHoldStandsInAsHeadlessOrAsTaken) {
    uitest::RecordingKeepAwake recording;
    EXPECT_EQ(&kit::KeepAwake::current(), &recording);
    EXPECT_FALSE(kit::KeepAwake::current().take("Brelvox is running"));
    kit::KeepAwake::current().release();
    recording.available = true;
    EXPECT_TRUE(kit::KeepAwake::current().take("Brelvox is running"));
    kit::KeepAwake::current().release();
    EXPECT_EQ(recording.calls, (std::vector<std::string>{"take:Brelvox is running", "take:Brelvox is running", "release"}));
}

}  // namespace
