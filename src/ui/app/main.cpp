// brelvox: the desktop application. Until the application shell is built it opens the kit demo.
// BRELVOX_SCREENSHOT=FILE.png saves the first window as the window system shows it to FILE.png and
// ends with 0 (1 when the window never showed or the file could not be written). BRELVOX_TEST holds
// the test settings (ui/app/TestSwitch.h).
#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <optional>
#include <string>

#include "bridge/UIController/IUIController.h"
#include "ui/app/CompositionRoot.h"
#include "ui/app/KitDemoWindowController.h"
#include "ui/app/TestSwitch.h"
#include "ui/app/TypeRootsReport.h"
#include "ui/kit/Application.h"
#include "ui/kit/DescriptorWatcher.h"

namespace {

constexpr int kScreenshotPatienceMs = 10000;
constexpr int kSettleMs = 300;

// Waits until window is on screen, lets it paint, grabs it and quits with the outcome.
void SaveScreenshotAndQuit(QWidget* window, const QString& file) {
    auto* clock = new QElapsedTimer;
    clock->start();
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, qApp, [=] {
        QWindow* handle = window->windowHandle();
        const bool shown = handle && handle->isExposed();
        if (!shown && clock->elapsed() < kScreenshotPatienceMs) return;
        poll->stop();
        if (!shown) {
            std::fprintf(stderr, "brelvox: the window never showed\n");
            QCoreApplication::exit(1);
            return;
        }
        window->repaint();
        QTimer::singleShot(kSettleMs, qApp, [=] {
            QScreen* screen = handle->screen();
            const QPixmap shot = screen ? screen->grabWindow(window->winId()) : QPixmap();
            const bool saved = !shot.isNull() && shot.save(file, "PNG");
            if (!saved) std::fprintf(stderr, "brelvox: could not save the screenshot to %s\n", qPrintable(file));
            QCoreApplication::exit(saved ? 0 : 1);
        });
    });
    poll->start(50);
}

// The test switch of this run: none when BRELVOX_TEST is not set; exits with 2 on a bad setting.
std::optional<app::TestSwitch> ReadTestSwitch() {
    if (!qEnvironmentVariableIsSet(app::TestSwitch::kVariable)) return std::nullopt;
    std::string error;
    auto settings = app::TestSwitch::Parse(qEnvironmentVariable(app::TestSwitch::kVariable).toStdString(), &error);
    if (!settings) {
        std::fprintf(stderr, "brelvox: %s\n", error.c_str());
        std::exit(2);
    }
    return settings;
}

// "type-roots": reports the type tree's roots, then closes as the program does.
void ReportTypeRootsAndQuit(const std::string& file, IUIController& controller) {
    QTimer::singleShot(0, qApp, [file, &controller] {
        if (!app::WriteTypeRootsReport(file)) {
            std::fprintf(stderr, "brelvox: could not write the type roots to %s\n", file.c_str());
            QCoreApplication::exit(1);
            return;
        }
        controller.CloseApp();
    });
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<app::TestSwitch> testSwitch = ReadTestSwitch();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brelvox"));
    kit::Application::shared().installMainThreadQueue();
    // The interface language is the user defaults' until the shell's start sets it; it must be set
    // before the composition, which the type tree's root titles follow.
    app::CompositionRoot composition;
    IUIController& controller = composition.controller();
    // The main loop's one descriptor watcher: device arrivals and removals are read on the GUI thread.
    kit::QtDescriptorWatcher descriptorWatcher;
    controller.USBNotifier_init(descriptorWatcher);
    // Whatever way main ends, the notifier stops before the watcher it uses goes.
    struct StopMediaNotifier {
        IUIController& controller;
        ~StopMediaNotifier() { controller.USBNotifier_dealloc(); }
    } stopMediaNotifier{controller};

    KitDemoWindowController::RegisterNib();
    KitDemoWindowController demo;
    demo.showWindow();
    if (!demo.window()) return 1;

    const QString screenshot = qEnvironmentVariable("BRELVOX_SCREENSHOT");
    if (!screenshot.isEmpty()) SaveScreenshotAndQuit(demo.window(), screenshot);
    if (testSwitch) {
        if (const auto file = testSwitch->value("type-roots")) ReportTypeRootsAndQuit(*file, controller);
    }
    return app.exec();
}
