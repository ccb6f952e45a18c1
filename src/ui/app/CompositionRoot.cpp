#include "ui/app/CompositionRoot.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Preview/IImageDecoder.h"
#include "bridge/UIController/UIControllerAdapter.h"
#include "ui/kit/IconProvider.h"
#include "ui/kit/ImageDecoder.h"

namespace app {

namespace {

// Process-lived: the type tree keeps the provider it found at its first use, and workers may still
// decode while the program ends.
UIControllerAdapter& Adapter() {
    static auto* adapter = new UIControllerAdapter;
    return *adapter;
}

kit::IconProvider& Icons() {
    static auto* icons = new kit::IconProvider;
    return *icons;
}

kit::ImageDecoder& Decoder() {
    static auto* decoder = new kit::ImageDecoder;
    return *decoder;
}

// Leaves every event loop of the main thread once control is back in one: the quit may come before
// the loop runs, or from inside a modal run.
void LeaveEventLoop() {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return;
    QMetaObject::invokeMethod(application, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

}  // namespace

CompositionRoot::CompositionRoot(CompositionArguments arguments)
    : m_previousController(GetUIController()), m_previousIcons(GetIconProvider()), m_previousDecoder(GetImageDecoder()) {
    SetUIController(&Adapter());
    SetIconProvider(&Icons());
    SetImageDecoder(&Decoder());
    volume_notifier::SetIconDataProvider(std::move(arguments.copyIconDataForPath));
    KXUIController::SetQuitHook(LeaveEventLoop);
    KXUIController::SetSpyIDEndHook(std::move(arguments.statisticsEnd));
}

CompositionRoot::~CompositionRoot() {
    KXUIController::SetSpyIDEndHook(nullptr);
    KXUIController::SetQuitHook(nullptr);
    volume_notifier::SetIconDataProvider(nullptr);
    SetImageDecoder(m_previousDecoder);
    SetIconProvider(m_previousIcons);
    SetUIController(m_previousController);
}

IUIController& CompositionRoot::controller() { return Adapter(); }

}  // namespace app
