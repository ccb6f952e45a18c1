// The keep-awake hold: while the program runs, the desktop is asked not to blank the display or
// sleep for idleness. The application uses the desktop's D-Bus screen-saver service; without one
// (headless, no session bus, no such service) the hold is simply not taken. Tests install a
// recording one.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

namespace kit {

class KeepAwake {
public:
    virtual ~KeepAwake() = default;

    // The installed hold (the desktop's unless a test installed another).
    static KeepAwake& current();
    // Installs hold (not owned); null restores the desktop's.
    static void setCurrent(KeepAwake* hold);

    // Takes the hold, reason telling the user why; true when it is held (also when it already was).
    virtual bool take(const std::string& reason) = 0;
    // Gives the hold back; nothing when it is not held.
    virtual void release() = 0;
    virtual bool isHeld() const = 0;
};

// org.freedesktop.ScreenSaver's Inhibit and UnInhibit on the session bus (or the bus at busAddress).
// Each call waits at most kCallTimeoutMs for the service. The hold is given back when the object
// goes.
class DBusKeepAwake : public KeepAwake {
public:
    static constexpr int kCallTimeoutMs = 2000;
    static constexpr const char* kService = "org.freedesktop.ScreenSaver";
    static constexpr const char* kPath = "/org/freedesktop/ScreenSaver";

    explicit DBusKeepAwake(QString busAddress = {});
    ~DBusKeepAwake() override;
    DBusKeepAwake(const DBusKeepAwake&) = delete;
    DBusKeepAwake& operator=(const DBusKeepAwake&) = delete;

    bool take(const std::string& reason) override;
    void release() override;
    bool isHeld() const override { return m_cookie.has_value(); }

private:
    QString m_busAddress;
    QString m_connectionName;
    std::optional<std::uint32_t> m_cookie;
};

}  // namespace kit
