#include "ui/kit/Application.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <algorithm>

#include "ui/kit/Menu.h"

#include "platform/foundation/NotificationCenter.h"
#include "ui/kit/Notifications.h"
#include "ui/kit/Window.h"

namespace kit {

namespace {

// Gives a key press in a kit window to the main menu first, as AppKit's key equivalents go to the
// main menu wherever the key window is.
class KeyEquivalentFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        auto* widget = qobject_cast<QWidget*>(receiver);
        if (!widget || !dynamic_cast<Window*>(widget->window())) return false;
        Application& app = Application::shared();
        Menu* menu = app.mainMenu();
        if (!menu || app.modalDepth() > 0) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->isAutoRepeat() || !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
        return menu->performKeyEquivalent(key->keyCombination());
    }
};

}  // namespace

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

void Application::setMainMenu(Menu* menu) {
    m_mainMenu = menu;
    if (!m_keyEquivalents) {
        m_keyEquivalents = new KeyEquivalentFilter(m_queue.receiver());
        qApp->installEventFilter(m_keyEquivalents);
    }
}

void Application::popUpMainMenu(const QPoint& global) {
    if (m_mainMenu) m_mainMenu->popup(global);
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
    return runModal(window, window);
}

int Application::runModalForWidget(QWidget* widget) {
    if (!widget) return kModalResponseAbort;
    return runModal(widget, dynamic_cast<Window*>(widget));
}

int Application::runModal(QWidget* widget, Window* window) {
    QEventLoop loop;
    ModalLevel level;
    level.widget = widget;
    level.window = window;
    level.loop = &loop;
    level.code = kModalResponseStop;
    m_levels.push_back(&level);
    // Whatever deletes the widget during its run ends the run.
    QObject::connect(widget, &QObject::destroyed, &loop, [this, widget] { widgetDestroyed(widget); });

    const Qt::WindowModality oldModality = widget->windowModality();
    const bool wasVisible = widget->isVisible();
    if (wasVisible) widget->hide();  // modality changes only take effect on a hidden window
    widget->setWindowModality(Qt::ApplicationModal);
    if (window) {
        window->makeKeyAndOrderFront();
    } else {
        widget->show();
        widget->raise();
        widget->activateWindow();
    }
    // A stop asked while the window was being shown ends the run before it starts.
    if (!level.stopped) loop.exec(QEventLoop::DialogExec);

    m_levels.erase(std::find(m_levels.begin(), m_levels.end(), &level));
    if (level.widget) {
        const bool visible = widget->isVisible();
        widget->hide();
        widget->setWindowModality(oldModality);
        if (visible) widget->show();
    }
    return level.code;
}

void Application::stop(ModalLevel& level, int code) {
    if (level.stopped) return;
    level.stopped = true;
    level.code = code;
    if (level.loop) level.loop->exit(0);
}

void Application::stopModalWithCode(int code) {
    if (!m_levels.empty()) stop(*m_levels.back(), code);
}

void Application::stopModalForWidget(const QWidget* widget, int code) {
    for (ModalLevel* level : m_levels) {
        if (widget && level->widget == widget) stop(*level, code);
    }
}

Window* Application::modalWindow() const { return m_levels.empty() ? nullptr : m_levels.back()->window; }

QWidget* Application::modalWidget() const { return m_levels.empty() ? nullptr : m_levels.back()->widget; }

void Application::widgetDestroyed(const QWidget* widget) {
    // A modal window destroyed during its run ends the run.
    for (ModalLevel* level : m_levels) {
        if (!widget || level->widget != widget) continue;
        level->widget = nullptr;
        level->window = nullptr;
        stop(*level, kModalResponseAbort);
    }
}

Application::ModalScope::ModalScope() : m_level(new ModalLevel) { Application::shared().m_levels.push_back(m_level); }

Application::ModalScope::~ModalScope() {
    auto& levels = Application::shared().m_levels;
    levels.erase(std::find(levels.begin(), levels.end(), m_level));
    delete m_level;
}

}  // namespace kit
