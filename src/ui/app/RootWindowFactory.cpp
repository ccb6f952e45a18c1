#include "ui/app/RootWindowFactory.h"

#include "bridge/UIController/UINotifications.h"
#include "engine/Common/CatchExeception.h"
#include "platform/foundation/NotificationCenter.h"
#include "ui/app/KitDemoWindowController.h"
#include "ui/kit/Notifications.h"

namespace app {

namespace {

using brelvox::foundation::NotificationCenter;

class ControllerRootWindow : public shell::IRootWindow {
public:
    explicit ControllerRootWindow(std::unique_ptr<kit::WindowController> controller)
        : m_controller(std::move(controller)) {}
    ~ControllerRootWindow() override { NotificationCenter::Default().RemoveObserver(this); }

    kit::Window* window() override {
        kit::Window* loaded = m_controller->window();
        if (loaded && !m_observing) {
            m_observing = true;
            NotificationCenter::Default().AddObserver(this, kit::kWindowWillCloseNotification, loaded, [](const auto&) {
                NotificationCenter::Default().PostOnMainThread(ui_notification::kAppWillTerminate);
            });
        }
        return loaded;
    }
    void showWindow() override {
        window();
        m_controller->showWindow();
    }
    void importSavedResult(const std::string& path) override {
        // The wizard's import flow is not built yet: the demo cannot show a saved result.
        CatchExeception::Instance()->WriteLog("no main window to import %s into\n", path.c_str());
    }

private:
    std::unique_ptr<kit::WindowController> m_controller;
    bool m_observing = false;
};

}  // namespace

std::unique_ptr<shell::IRootWindow> MakeRootWindow() {
    if (kit::IsNibRegistered(kMainNibName))
        return std::make_unique<ControllerRootWindow>(std::make_unique<kit::WindowController>(kMainNibName));
    KitDemoWindowController::RegisterNib();
    return std::make_unique<ControllerRootWindow>(std::make_unique<KitDemoWindowController>());
}

}  // namespace app
