// The About window ("AboutWindowXib"): the product's name and version and, when an "AboutURL" address
// is configured, a link to it.
#pragma once

#include "ui/shell/FadingWindowController.h"

namespace shell {

inline constexpr const char* kAboutNibName = "AboutWindowXib";

namespace about_layout {
inline constexpr double kWidth = 360;
inline constexpr double kHeight = 210;
inline constexpr double kBarHeight = 22;
}  // namespace about_layout

class KXAboutWindowController : public FadingWindowController {
public:
    KXAboutWindowController();

    static void RegisterNib();

    // A click on the link: opens the "AboutURL" address.
    void linkButtonAction();

    // Outlets set by the nib's builder.
    kit::Label* nameLabel = nullptr;
    kit::Label* versionLabel = nullptr;
    kit::Label* aboutlink = nullptr;
    kit::View* aboutlinkLine = nullptr;

protected:
    void windowDidLoad() override;
};

}  // namespace shell
