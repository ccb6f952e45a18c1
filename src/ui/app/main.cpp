// brelvox: the desktop application. Until the application shell is built it opens the kit demo.
// BRELVOX_SCREENSHOT=FILE.png (a test switch) saves the first window as the window system shows it
// to FILE.png and ends with 0 (1 when the window never showed or the file could not be written).
#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>

#include "bridge/UIController/UIControllerAdapter.h"
#include "ui/app/KitDemoWindowController.h"
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brelvox"));
    kit::Application::shared().installMainThreadQueue();
    // The main loop's one descriptor watcher: device arrivals and removals are read on the GUI thread.
    kit::QtDescriptorWatcher descriptorWatcher;
    UIControllerAdapter controller;
    controller.USBNotifier_init(descriptorWatcher);
    // Whatever way main ends, the notifier stops before the watcher it uses goes.
    struct StopMediaNotifier {
        UIControllerAdapter& controller;
        ~StopMediaNotifier() { controller.USBNotifier_dealloc(); }
    } stopMediaNotifier{controller};

    KitDemoWindowController::RegisterNib();
    KitDemoWindowController demo;
    demo.showWindow();
    if (!demo.window()) return 1;

    const QString screenshot = qEnvironmentVariable("BRELVOX_SCREENSHOT");
    if (!screenshot.isEmpty()) SaveScreenshotAndQuit(demo.window(), screenshot);
    return app.exec();
}
