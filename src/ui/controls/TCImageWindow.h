// TCImageWindow: the window of every window of the application. A frameless kit window with our own
// drawn title bar (WQTitlebarContainer holding a WQTitlebarView) across its top and drawn window
// buttons (TCWindowButton) in place of the platform's: close, minimise and zoom in a row or a column
// inside the bar, the content view below the bar, sheets hanging from the bar's bottom edge, and
// the controls placed directly in the bar disabled while the window is not main or the application
// is in the background.
#pragma once

#include <QPainterPath>
#include <functional>
#include <optional>

#include "ui/kit/Shadow.h"
#include "ui/kit/Window.h"

class TCWindowButton;
class WQTitlebarContainer;

// The metrics AppKit measures on its first titled window, fixed here for our drawn bar and buttons.
namespace image_window_metrics {
inline constexpr double kMinimumTitleBarHeight = 22.0;  // the standard title bar's height
inline constexpr double kDefaultLeftMargin = 7.0;       // x of the close button
inline constexpr double kDefaultSeparation = 6.0;       // gap between neighbouring buttons
inline constexpr double kWindowButtonWidth = 14.0;
inline constexpr double kWindowButtonHeight = 16.0;
inline constexpr double kDefaultTopMargin = 3.0;        // buttons and full-screen button when not centred
}  // namespace image_window_metrics

class TCImageWindow : public kit::Window {
public:
    // Paints the bar in place of the default painting: (draws as main, the bar's bounds, the rounded
    // clipping path of the bounds in the painter's coordinates).
    using TitleBarDrawingBlock = std::function<void(QPainter&, bool, const kit::Rect&, const QPainterPath&)>;

    // The kinds of window buttons (the platform's numbering).
    enum ButtonKind { kCloseButton = 0, kMinimizeButton = 1, kZoomButton = 2, kFullScreenButton = 7 };

    explicit TCImageWindow(kit::Size size);
    ~TCImageWindow() override;

    double titleBarHeight() const { return m_titleBarHeight; }
    void setTitleBarHeight(double height);
    double cachedTitleBarHeight() const { return m_cachedTitleBarHeight; }
    void setCachedTitleBarHeight(double height) { m_cachedTitleBarHeight = height; }

    double trafficLightButtonsLeftMargin() const { return m_leftMargin; }
    void setTrafficLightButtonsLeftMargin(double margin);
    double trafficLightButtonsTopMargin() const { return m_topMargin; }
    void setTrafficLightButtonsTopMargin(double margin) { m_topMargin = margin; }
    double trafficLightSeparation() const { return m_separation; }
    void setTrafficLightSeparation(double separation);
    bool centerTrafficLightButtons() const { return m_centerButtons; }
    void setCenterTrafficLightButtons(bool on);
    bool verticalTrafficLightButtons() const { return m_verticalButtons; }
    void setVerticalTrafficLightButtons(bool on);
    // Added to the buttons' y in the row layout; takes effect at the next layout.
    double topButtonMoveUp() const { return m_topButtonMoveUp; }
    void setTopButtonMoveUp(double offset) { m_topButtonMoveUp = offset; }

    double fullScreenButtonRightMargin() const { return m_fullScreenRightMargin; }
    void setFullScreenButtonRightMargin(double margin);
    bool hasFullScreenButtonRightMargin() const { return m_hasFullScreenRightMargin; }
    void setSetFullScreenButtonRightMargin(bool on) { m_hasFullScreenRightMargin = on; }
    double fullScreenButtonTopMargin() const { return m_fullScreenTopMargin; }
    void setFullScreenButtonTopMargin(double margin) { m_fullScreenTopMargin = margin; }
    bool centerFullScreenButton() const { return m_centerFullScreenButton; }
    void setCenterFullScreenButton(bool on);
    bool hideTitleBarInFullScreen() const { return m_hideTitleBarInFullScreen; }
    void setHideTitleBarInFullScreen(bool on) { m_hideTitleBarInFullScreen = on; }

    bool showsBaselineSeparator() const { return m_showsBaselineSeparator; }
    void setShowsBaselineSeparator(bool on);
    bool showsTitle() const { return m_showsTitle; }
    void setShowsTitle(bool on);
    bool showsTitleInFullscreen() const { return m_showsTitleInFullscreen; }
    void setShowsTitleInFullscreen(bool on) { m_showsTitleInFullscreen = on; }

    // Title colours and shadows when the window draws as main, and otherwise; none: the defaults.
    const std::optional<QColor>& titleTextColor() const { return m_titleTextColor; }
    void setTitleTextColor(std::optional<QColor> color) { m_titleTextColor = color; }
    const std::optional<kit::Shadow>& titleTextShadow() const { return m_titleTextShadow; }
    void setTitleTextShadow(std::optional<kit::Shadow> shadow) { m_titleTextShadow = shadow; }
    const std::optional<QColor>& inactiveTitleTextColor() const { return m_inactiveTitleTextColor; }
    void setInactiveTitleTextColor(std::optional<QColor> color) { m_inactiveTitleTextColor = color; }
    const std::optional<kit::Shadow>& inactiveTitleTextShadow() const { return m_inactiveTitleTextShadow; }
    void setInactiveTitleTextShadow(std::optional<kit::Shadow> shadow) { m_inactiveTitleTextShadow = shadow; }

    const TitleBarDrawingBlock& titleBarDrawingBlock() const { return m_drawingBlock; }
    void setTitleBarDrawingBlock(TitleBarDrawingBlock block) { m_drawingBlock = std::move(block); }

    // The view callers add their bar controls to; it fills the bar.
    kit::View* titleBarView() const { return m_titleBarView; }
    // Replaces the bar's view (the window owns it); null is ignored.
    void setTitleBarView(kit::View* view);
    WQTitlebarContainer* titleBarContainer() const { return m_container; }

    // Caller-provided buttons in place of the window's own (the window owns them); null removes one.
    void setCloseButton(TCWindowButton* button) { setProvidedButton(kCloseButton, button); }
    void setMinimizeButton(TCWindowButton* button) { setProvidedButton(kMinimizeButton, button); }
    void setZoomButton(TCWindowButton* button) { setProvidedButton(kZoomButton, button); }
    void setFullScreenButton(TCWindowButton* button) { setProvidedButton(kFullScreenButton, button); }
    TCWindowButton* closeButton() const { return m_provided[0]; }
    TCWindowButton* minimizeButton() const { return m_provided[1]; }
    TCWindowButton* zoomButton() const { return m_provided[2]; }
    TCWindowButton* fullScreenButton() const { return m_provided[3]; }
    // The window's own drawn button of a kind (there is no full-screen one).
    TCWindowButton* standardWindowButton(ButtonKind kind) const;
    // The button a layout places for a kind: the provided one, else the standard one.
    TCWindowButton* buttonToLayout(ButtonKind kind);

    void setTitle(const QString& title) override;
    void setContentView(kit::View* view) override;
    // The sheet question is answered here, never by the delegate: a sheet hangs from the bar.
    kit::Rect positionSheet(kit::Window* sheet, kit::Rect proposed) override;

    // Lays out the bar, the buttons and the content view.
    void layoutTrafficLightsAndContent();
    // Marks the bar for redisplay and enables its controls exactly while the window draws as main.
    void updateTitlebarView();

protected:
    void becomeKeyWindow() override;
    void resignKeyWindow() override;
    void becomeMainWindow() override;
    void resignMainWindow() override;
    void applicationDidChangeActive(bool active) override;
    void windowWillEnterFullScreen() override;
    void windowWillExitFullScreen() override;
    void windowDidExitFullScreen() override;
    void windowDidResize() override;
    void windowDidMove() override;

private:
    void setProvidedButton(ButtonKind kind, TCWindowButton* button);
    static int slotOf(ButtonKind kind);
    void recalculateFrameForTitleBarContainer();
    void repositionContentView();
    void displayWindowAndTitlebar();
    void setupTrafficLightsTrackingArea();
    void hideTitleBarView(bool hide);

    double m_cachedTitleBarHeight;
    bool m_hasFullScreenRightMargin = false;
    WQTitlebarContainer* m_container = nullptr;
    double m_titleBarHeight;
    double m_topButtonMoveUp = 0;
    kit::View* m_titleBarView = nullptr;
    bool m_centerFullScreenButton = false;
    bool m_centerButtons = true;
    bool m_verticalButtons = false;
    bool m_hideTitleBarInFullScreen = false;
    bool m_showsBaselineSeparator = true;
    double m_leftMargin;
    double m_topMargin;
    double m_fullScreenRightMargin = 0;
    double m_fullScreenTopMargin;
    double m_separation;
    bool m_showsTitle = false;
    bool m_showsTitleInFullscreen = false;
    TCWindowButton* m_provided[4] = {nullptr, nullptr, nullptr, nullptr};
    TCWindowButton* m_standard[3] = {nullptr, nullptr, nullptr};
    std::optional<QColor> m_titleTextColor;
    std::optional<kit::Shadow> m_titleTextShadow;
    std::optional<QColor> m_inactiveTitleTextColor;
    std::optional<kit::Shadow> m_inactiveTitleTextShadow;
    TitleBarDrawingBlock m_drawingBlock;
    bool m_settingUp = true;
};
