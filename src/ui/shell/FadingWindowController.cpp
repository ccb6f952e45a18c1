#include "ui/shell/FadingWindowController.h"

#include "ui/controls/TCImageWindow.h"
#include "ui/controls/TCWindowButton.h"
#include "ui/kit/Application.h"
#include "ui/kit/Localized.h"

namespace shell {

FadingWindowController::~FadingWindowController() {
    if (isWindowLoaded()) window()->setDelegate(nullptr);
}

TCImageWindow* FadingWindowController::imageWindow() {
    return dynamic_cast<TCImageWindow*>(window());
}

int FadingWindowController::runModal() {
    kit::Window* shown = window();
    if (!shown) return kit::kModalResponseAbort;
    shown->center();
    shown->fadeIn();
    return kit::Application::shared().runModalForWindow(shown);
}

void FadingWindowController::closeWindow() {
    endModalAndClose();
}

bool FadingWindowController::windowShouldClose(kit::Window* window) {
    window->fadeOut([this] {
        kit::Application::shared().stopModalForWidget(this->window(), kit::kModalResponseStop);
        windowDidClose();
    });
    return false;
}

void FadingWindowController::endModalAndClose() {
    kit::Window* shown = window();
    if (!shown) return;
    kit::Application::shared().stopModalForWidget(shown, kit::kModalResponseStop);
    shown->close();
    windowDidClose();
}

void FadingWindowController::setUpBar(const kit::Rect& frame, int pixelSize) {
    TCImageWindow* bar = imageWindow();
    if (!bar) return;
    bar->setDelegate(this);
    if (!titleLabel) {
        titleLabel = new kit::Label(frame, kit::localizedString("WINDOW_TOP_TITLE"));
        QFont font(QStringLiteral("Helvetica Neue Light"));
        font.setPixelSize(pixelSize);
        titleLabel->setFont(font);
        // Centred in the bar's height, level with the window buttons.
        titleLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        bar->titleBarView()->addSubview(titleLabel);
    }
    if (TCWindowButton* close = bar->standardWindowButton(TCImageWindow::kCloseButton))
        close->setAction([this] { closeWindow(); });
}

}  // namespace shell
