// Drawn window buttons (close, minimise, zoom, full screen). A button shows one of five images by
// its window's key state, its enabled state, the mouse and the press. Buttons with one group
// identifier share a TCWindowButtonGroup, which counts how many of them the mouse is over; while the
// count is above zero every enabled button of the group shows its roll-over image.
#pragma once

#include <QString>
#include <cstdint>

#include "ui/kit/Button.h"
#include "ui/kit/Image.h"

inline constexpr const char* kTCWindowButtonGroupDefault = "com.tolvanik.TCImageWindow.defaultWindowButtonGroup";
inline constexpr const char* TCWindowButtonGroupDidUpdateRolloverStateNotification =
    "TCWindowButtonGroupDidUpdateRolloverStateNotification";

class TCWindowButtonGroup {
public:
    // The registered group of identifier (empty: the default group), made on first use; groups live
    // for the rest of the process.
    static TCWindowButtonGroup* groupWithIdentifier(const QString& identifier);

    const QString& identifier() const { return m_identifier; }
    int64_t numberOfCaptures() const { return m_captures; }
    // Ignored when equal to the count or negative; otherwise stored and announced.
    void setNumberOfCaptures(int64_t count);
    void didCaptureMousePointer() { setNumberOfCaptures(m_captures + 1); }
    void didReleaseMousePointer() { setNumberOfCaptures(m_captures - 1); }
    void resetMouseCaptures() { setNumberOfCaptures(0); }
    bool shouldDisplayRollOver() const { return m_captures > 0; }

    explicit TCWindowButtonGroup(QString identifier) : m_identifier(std::move(identifier)) {}

private:
    QString m_identifier;
    int64_t m_captures = 0;
};

class TCWindowButton : public kit::Button {
public:
    TCWindowButton(kit::Size size, const QString& groupIdentifier);
    ~TCWindowButton() override;

    const QString& groupIdentifier() const { return m_groupIdentifier; }
    TCWindowButtonGroup* group() const { return m_group; }

    // The setters only store; the image shown changes at the next update.
    void setActiveImage(const kit::Image& image) { m_activeImage = image; }
    void setActiveNotKeyWindowImage(const kit::Image& image) { m_activeNotKeyWindowImage = image; }
    void setInactiveImage(const kit::Image& image) { m_inactiveImage = image; }
    void setRolloverImage(const kit::Image& image) { m_rolloverImage = image; }
    // Shown while the button is pressed.
    void setPressedImage(const kit::Image& image) { m_pressedImage = image; }
    const kit::Image& activeImage() const { return m_activeImage; }
    const kit::Image& activeNotKeyWindowImage() const { return m_activeNotKeyWindowImage; }
    const kit::Image& inactiveImage() const { return m_inactiveImage; }
    const kit::Image& rolloverImage() const { return m_rolloverImage; }
    const kit::Image& pressedImage() const { return m_pressedImage; }
    // The image shown now (not counting the press).
    const kit::Image& image() const { return m_image; }

    void updateImage();
    void updateActiveImage();
    void updateRollOverImage();
    // The end of a live resize: the group's captures start again from 0.
    void viewDidEndLiveResize();

protected:
    void viewDidMoveToWindow() override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void observeWindow(QWidget* window);
    const void* windowObservation() const { return &m_observedWindow; }

    QString m_groupIdentifier;
    TCWindowButtonGroup* m_group;
    kit::Image m_activeImage;
    kit::Image m_activeNotKeyWindowImage;
    kit::Image m_inactiveImage;
    kit::Image m_rolloverImage;
    kit::Image m_pressedImage;
    kit::Image m_image;
    // Its address registers the observations of the window (the button itself observes its group).
    QWidget* m_observedWindow = nullptr;
    bool m_inside = false;  // counted in the group's captures
};
