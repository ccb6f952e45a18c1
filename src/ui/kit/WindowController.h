// Window and view controllers loaded "from nibs": a nib is a C++ builder registered under the nib's
// name ("MainXib", "ExhibitionXib"...). On the first access to its window (or view) a controller runs
// the builder of its nib, which makes the window and sets the controller's outlets; then
// awakeFromNib and windowDidLoad (viewDidLoad) follow, once.
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "ui/kit/View.h"
#include "ui/kit/Window.h"

namespace kit {

class NibOwner;
using NibBuilder = std::function<void(NibOwner& owner)>;

// Registers (or replaces) the builder of a nib name.
void RegisterNib(const QString& name, NibBuilder builder);
bool IsNibRegistered(const QString& name);

class NibOwner {
public:
    explicit NibOwner(QString nibName) : m_nibName(std::move(nibName)) {}
    virtual ~NibOwner() = default;
    NibOwner(const NibOwner&) = delete;
    NibOwner& operator=(const NibOwner&) = delete;

    const QString& nibName() const { return m_nibName; }
    // Sent after the nib's builder has made the objects and set the outlets.
    virtual void awakeFromNib() {}

protected:
    // Runs the builder once; false (and a warning) when the name has none.
    bool loadNib();

private:
    QString m_nibName;
    bool m_loaded = false;
};

class WindowController : public NibOwner {
public:
    explicit WindowController(QString windowNibName) : NibOwner(std::move(windowNibName)) {}
    ~WindowController() override;

    // The window, loaded from the nib on first access; null when the nib has no builder.
    Window* window();
    bool isWindowLoaded() const { return m_window != nullptr; }
    // For builders: hands the window to the controller, which owns it from then on.
    void setWindow(Window* window);

    void showWindow();
    void close();

protected:
    virtual void windowWillLoad() {}
    virtual void windowDidLoad() {}

private:
    QPointer<Window> m_window;
    bool m_triedLoad = false;
};

class ViewController : public NibOwner {
public:
    explicit ViewController(QString nibName) : NibOwner(std::move(nibName)) {}
    ~ViewController() override;

    // The view, loaded from the nib on first access; null when the nib has no builder.
    View* view();
    bool isViewLoaded() const { return m_view != nullptr; }
    // For builders: the controller owns the view (a superview may hold it too; whichever ends first
    // takes it along).
    void setView(View* view);

protected:
    virtual void viewDidLoad() {}

private:
    QPointer<View> m_view;
    bool m_triedLoad = false;
};

}  // namespace kit
