#include "ui/app/KitDemoWindowController.h"

#include "ui/controls/KXProgressView.h"
#include "ui/controls/TCImageButton.h"
#include "ui/controls/TCImageWindow.h"
#include "ui/kit/TextField.h"

using kit::MakeRect;

namespace {

constexpr double kButtonWidth = 120;
constexpr double kButtonHeight = 40;
constexpr double kButtonGap = 24;
constexpr double kButtonsY = 150;  // content coordinates, y up

void BuildDemo(kit::NibOwner& owner) {
    auto& controller = dynamic_cast<KitDemoWindowController&>(owner);
    auto* window = new TCImageWindow(kit::MakeSize(kit_demo::kWidth, kit_demo::kHeight));
    window->setTitle(QStringLiteral("Brelvox"));
    window->setBackgroundColor(QColor(244, 245, 247));

    kit::View* content = window->contentView();
    const double rowWidth = 4 * kButtonWidth + 3 * kButtonGap;
    double x = (kit_demo::kWidth - rowWidth) / 2;
    const char* captions[4] = {"normal", "hover", "pressed", "disabled"};
    for (size_t i = 0; i < 4; ++i) {
        auto* button = new TCImageButton(MakeRect(x, kButtonsY, kButtonWidth, kButtonHeight));
        button->setImageFromFileNormalName("next_normal", "next_press", "next_hover", "next_disable");
        button->setAutoresizingMask(kit::kViewMinXMargin | kit::kViewMaxXMargin | kit::kViewMinYMargin);
        content->addSubview(button);
        controller.stateButtons[i] = button;

        auto* caption = new kit::Label(MakeRect(x, kButtonsY - 28, kButtonWidth, 20), QString::fromLatin1(captions[i]));
        caption->setTextAlignment(Qt::AlignHCenter);
        caption->setTextColor(QColor(126, 143, 164));
        caption->setAutoresizingMask(kit::kViewMinXMargin | kit::kViewMaxXMargin | kit::kViewMinYMargin);
        content->addSubview(caption);
        x += kButtonWidth + kButtonGap;
    }

    const double contentHeight = kit_demo::kHeight - kit_demo::kBarHeight;
    const double stripY = contentHeight - (kit_demo::kProgressTop - kit_demo::kBarHeight) - kit_demo::kProgressHeight;
    auto* progress = new KXProgressView(MakeRect(0, stripY, kit_demo::kWidth, kit_demo::kProgressHeight));
    progress->setAutoresizingMask(kit::kViewWidthSizable);
    content->addSubview(progress);
    controller.progressView = progress;

    controller.setWindow(window);
}

}  // namespace

KitDemoWindowController::KitDemoWindowController() : kit::WindowController(kit_demo::kNibName) {}

void KitDemoWindowController::RegisterNib() {
    if (!kit::IsNibRegistered(kit_demo::kNibName)) kit::RegisterNib(kit_demo::kNibName, BuildDemo);
}

void KitDemoWindowController::windowDidLoad() {
    auto* window = static_cast<TCImageWindow*>(this->window());
    window->setTitleBarHeight(kit_demo::kBarHeight);
    window->setTrafficLightButtonsLeftMargin(kit_demo::kButtonsLeftMargin);
    window->setTopButtonMoveUp(kit_demo::kTopButtonMoveUp);
    window->setShowsTitle(true);
    window->layoutTrafficLightsAndContent();

    stateButtons[1]->setIsFocus(true);
    stateButtons[2]->setButtonClicked(true);
    stateButtons[3]->setButtonEnabled(false);
    progressView->changeProgressValue(kit_demo::kProgressPercent);
    window->center();
}
