// kit::Application: the application-wide idioms over QApplication. The modal stack runs one nested
// event loop per modal window (what QDialog::exec does, for our QWidget windows): runModalForWindow
// returns the code given to stopModalWithCode, and a modal may start inside another, also from a
// queued call or a notification handler. Alerts and panels run modal as levels of the same stack,
// so modalDepth counts them too. The application's activation is passed to every window and posted
// as a notification.
#pragma once

#include <QPointer>
#include <memory>
#include <vector>

#include "ui/kit/MainThreadQueue.h"
#include "ui/kit/Menu.h"

class QEventLoop;

namespace kit {

class Window;

// One run of the modal stack.
struct ModalLevel {
    QWidget* widget = nullptr;  // what the run shows (null once it is destroyed, or for a scope)
    Window* window = nullptr;   // the same when it is a kit window
    QEventLoop* loop = nullptr;
    int code = -1000;
    bool stopped = false;
};

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
    // The same for a dialog of the kit (an alert's box, a panel): it also ends when stopModalForWidget
    // names it, as its finished signal does.
    int runModalForWidget(QWidget* widget);
    // Ends the run of widget's level with code, wherever it stands in the stack.
    void stopModalForWidget(const QWidget* widget, int code);
    // Ends the innermost modal run with code (kModalResponseStop for stopModal). Without a modal run
    // nothing happens. The run returns when control comes back to its loop.
    void stopModalWithCode(int code);
    void stopModal() { stopModalWithCode(kModalResponseStop); }
    void abortModal() { stopModalWithCode(kModalResponseAbort); }
    // The kit window of the innermost modal run; null when none runs or the innermost is an alert or
    // a panel (see modalWidget).
    Window* modalWindow() const;
    // What the innermost modal run shows: a window, an alert's box or a panel; null when none runs or
    // the test responder answers it.
    QWidget* modalWidget() const;
    size_t modalDepth() const { return m_levels.size(); }

    // A level of the modal stack for the length of a scope, without a window or a loop of its own: an
    // alert or a panel that the test responder answers.
    class ModalScope {
    public:
        ModalScope();
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        ModalLevel* m_level;
    };

    bool isActive() const;

    // The main menu (not owned; null for none). It is drawn in no window, so no window's frames
    // move: the key equivalents of its items work in every kit window (not while a modal run is
    // on), and it pops up where a right click reaches a window that no view takes it in.
    void setMainMenu(Menu* menu);
    Menu* mainMenu() const { return m_mainMenu; }
    // Shows the main menu at a point of the screen (Qt's coordinates) without waiting.
    void popUpMainMenu(const QPoint& global);

    // Kit plumbing.
    void widgetDestroyed(const QWidget* widget);

private:
    Application();
    void activeChanged(bool active);
    int runModal(QWidget* widget, Window* window);
    static void stop(ModalLevel& level, int code);

    std::vector<ModalLevel*> m_levels;
    QPointer<Menu> m_mainMenu;
    QObject* m_keyEquivalents = nullptr;
    QtMainThreadQueue m_queue;
    bool m_wasActive = false;
};

}  // namespace kit
