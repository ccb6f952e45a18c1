// kit::Application: the application-wide idioms over QApplication. The modal stack runs one nested
// event loop per modal window (what QDialog::exec does, for our QWidget windows): runModalForWindow
// returns the code given to stopModalWithCode, and a modal may start inside another, also from a
// queued call or a notification handler. The application's activation is passed to every window
// and posted as a notification.
#pragma once

#include <QPointer>
#include <memory>
#include <vector>

#include "ui/kit/MainThreadQueue.h"

class QEventLoop;

namespace kit {

class Window;

inline constexpr int kModalResponseStop = -1000;
inline constexpr int kModalResponseAbort = -1001;

class Application {
public:
    // The process-wide object; needs a QApplication.
    static Application& shared();

    // Makes the kit's queue the main-thread queue of the default notification centre, so that
    // posts from workers reach the GUI thread.
    void installMainThreadQueue();
    QtMainThreadQueue& mainThreadQueue() { return m_queue; }

    // Shows window application-modal and runs until stopModal/abortModal; returns the code.
    int runModalForWindow(Window* window);
    // Ends the innermost modal run with code (kModalResponseStop for stopModal). Without a modal run
    // nothing happens. The run returns when control comes back to its loop.
    void stopModalWithCode(int code);
    void stopModal() { stopModalWithCode(kModalResponseStop); }
    void abortModal() { stopModalWithCode(kModalResponseAbort); }
    Window* modalWindow() const;
    size_t modalDepth() const { return m_levels.size(); }

    bool isActive() const;

    // Kit plumbing.
    void windowDestroyed(Window* window);

private:
    Application();
    void activeChanged(bool active);

    struct Level {
        Window* window;
        QEventLoop* loop;
        int code;
        bool stopped;
    };
    std::vector<Level*> m_levels;
    QtMainThreadQueue m_queue;
    bool m_wasActive = false;
};

}  // namespace kit
