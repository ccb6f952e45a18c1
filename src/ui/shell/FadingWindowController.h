// The small modal windows of the shell (update check, About): a drawn-bar window with the
// application's title as a label in its bar, run modal after fading in. Its bar's close button
// closes at once; a close asked any other way (the window system's) fades the window out first, and
// the modal run ends with the close either way.
#pragma once

#include "ui/kit/TextField.h"
#include "ui/kit/WindowController.h"

class TCImageWindow;

namespace shell {

class FadingWindowController : public kit::WindowController, public kit::WindowDelegate {
public:
    using kit::WindowController::WindowController;
    ~FadingWindowController() override;

    TCImageWindow* imageWindow();
    // Centres the window, fades it in and runs it modal until it closes.
    int runModal();
    // Ends the modal run and closes the window at once (the bar's close button).
    virtual void closeWindow();

    // A close request fades out and refuses: the fade's end ends the run and closes.
    bool windowShouldClose(kit::Window* window) override;

    kit::Label* titleLabel = nullptr;

protected:
    // Sets the window's delegate, adds the title label to the bar at frame (bar coordinates) with
    // the font at pixelSize showing "WINDOW_TOP_TITLE" unless the nib gave one, and points the bar's
    // close button at closeWindow.
    void setUpBar(const kit::Rect& frame, int pixelSize);
    // After the window closed, by either way.
    virtual void windowDidClose() {}

private:
    void endModalAndClose();
};

}  // namespace shell
