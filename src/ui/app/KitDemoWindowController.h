// The window `brelvox` opens until the application shell replaces it: a kit demo showing an image
// window with a 50-point drawn bar and its window buttons, image buttons in their four states and a
// progress strip at 53 %. The constants place its parts (Qt coordinates of the window, y down), so
// that the screenshot test can probe them.
#pragma once

#include <array>

#include "ui/kit/WindowController.h"

class KXProgressView;
class TCImageButton;

namespace kit_demo {
inline constexpr const char* kNibName = "KitDemoXib";
inline constexpr double kWidth = 640;
inline constexpr double kHeight = 360;
inline constexpr double kBarHeight = 50;
inline constexpr double kButtonsLeftMargin = 8;
inline constexpr double kTopButtonMoveUp = 5;
inline constexpr float kProgressPercent = 53.0f;
// The strip spans the window's width, its top this far below the window's top.
inline constexpr double kProgressTop = 296;
inline constexpr double kProgressHeight = 4;
}  // namespace kit_demo

class KitDemoWindowController : public kit::WindowController {
public:
    KitDemoWindowController();

    // Outlets set by the nib's builder.
    std::array<TCImageButton*, 4> stateButtons{};
    KXProgressView* progressView = nullptr;

    // Registers the nib's builder (once).
    static void RegisterNib();

protected:
    void windowDidLoad() override;
};
