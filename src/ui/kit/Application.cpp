#include "ui/kit/Application.h"

#include <QApplication>
#include <QEventLoop>
#include <algorithm>

#include "platform/foundation/NotificationCenter.h"
#include "ui/kit/Notifications.h"
#include "ui/kit/Window.h"

namespace kit {

Application& Application::shared() {
    static Application application;
    return application;
}

Application::Application() {
    m_wasActive = isActive();
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, m_queue.receiver(),
                     [this](Qt::ApplicationState state) { activeChanged(state == Qt::ApplicationActive); });
}

void Application::installMainThreadQueue() {
    brelvox::foundation::NotificationCenter::Default().SetMainThreadQueue(&m_queue);
}

bool Application::isActive() const { return QGuiApplication::applicationState() == Qt::ApplicationActive; }

void Application::activeChanged(bool active) {
    if (active == m_wasActive) return;
    m_wasActive = active;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = dynamic_cast<Window*>(widget)) window->applicationDidChangeActive(active);
    }
    brelvox::foundation::NotificationCenter::Default().Post(
        active ? kApplicationDidBecomeActiveNotification : kApplicationDidResignActiveNotification);
}

int Application::runModalForWindow(Window* window) {
    if (!window) return kModalResponseAbort;
    QEventLoop loop;
    Level level{window, &loop, kModalResponseStop, false};
    m_levels.push_back(&level);

    const Qt::WindowModality oldModality = window->windowModality();
    const bool wasVisible = window->isVisible();
    if (wasVisible) window->hide();  // modality changes only take effect on a hidden window
    window->setWindowModality(Qt::ApplicationModal);
    window->makeKeyAndOrderFront();
    // A stop asked while the window was being shown ends the run before it starts.
    if (!level.stopped) loop.exec(QEventLoop::DialogExec);

    m_levels.erase(std::find(m_levels.begin(), m_levels.end(), &level));
    if (level.window) {
        const bool visible = window->isVisible();
        window->hide();
        window->setWindowModality(oldModality);
        if (visible) window->show();
    }
    return level.code;
}

void Application::stopModalWithCode(int code) {
    if (m_levels.empty()) return;
    Level* top = m_levels.back();
    if (top->stopped) return;
    top->stopped = true;
    top->code = code;
    top->loop->exit(0);
}

Window* Application::modalWindow() const { return m_levels.empty() ? nullptr : m_levels.back()->window; }

void Application::windowDestroyed(Window* window) {
    // A modal window destroyed during its run ends the run.
    for (Level* level : m_levels) {
        if (level->window != window) continue;
        level->window = nullptr;
        if (!level->stopped) {
            level->stopped = true;
            level->code = kModalResponseAbort;
            level->loop->exit(0);
        }
    }
}

}  // namespace kit
