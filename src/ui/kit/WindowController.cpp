#include "ui/kit/WindowController.h"

#include <QHash>

namespace kit {

namespace {

QHash<QString, NibBuilder>& Registry() {
    static QHash<QString, NibBuilder> registry;
    return registry;
}

}  // namespace

void RegisterNib(const QString& name, NibBuilder builder) { Registry().insert(name, std::move(builder)); }

bool IsNibRegistered(const QString& name) { return Registry().contains(name); }

bool NibOwner::loadNib() {
    if (m_loaded) return true;
    const auto it = Registry().constFind(m_nibName);
    if (it == Registry().constEnd() || !*it) {
        qWarning("kit: no nib named \"%s\"", qPrintable(m_nibName));
        return false;
    }
    m_loaded = true;
    const NibBuilder builder = *it;
    builder(*this);
    awakeFromNib();
    return true;
}

WindowController::~WindowController() { delete m_window.data(); }

Window* WindowController::window() {
    if (!m_window && !m_triedLoad) {
        m_triedLoad = true;
        windowWillLoad();
        if (loadNib() && m_window) windowDidLoad();
    }
    return m_window;
}

void WindowController::setWindow(Window* window) {
    if (window == m_window) return;
    delete m_window.data();
    m_window = window;
}

void WindowController::showWindow() {
    if (Window* w = window()) w->makeKeyAndOrderFront();
}

void WindowController::close() {
    if (m_window) m_window->close();
}

ViewController::~ViewController() { delete m_view.data(); }

View* ViewController::view() {
    if (!m_view && !m_triedLoad) {
        m_triedLoad = true;
        if (loadNib() && m_view) viewDidLoad();
    }
    return m_view;
}

void ViewController::setView(View* view) {
    if (view == m_view) return;
    delete m_view.data();
    m_view = view;
}

}  // namespace kit
