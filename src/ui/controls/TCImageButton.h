// TCImageButton: the push button of the application's windows, painted from four named images (normal,
// pressed, hover, disabled) drawn at their own size from the button's top-left corner. KXHandButton:
// a button that shows the pointing-hand cursor while the mouse is over it.
#pragma once

#include "ui/kit/Button.h"
#include "ui/kit/Image.h"
#include "ui/kit/TextField.h"

class TCImageButton : public kit::Button {
public:
    explicit TCImageButton(const kit::Rect& frame);

    // Looks up the four images (an empty or unknown name leaves that state without its own image);
    // the image is drawn at the normal image's size from (0, 0); the frame stays as it is.
    void setImageFromFileNormalName(const QString& normal, const QString& active, const QString& hover,
                                    const QString& disable);
    // YES: usable (despite the name of the flag it sets); NO ignores clicks and shows the disable image.
    void setButtonEnabled(bool enabled);
    // Holds the pressed look (YES) until NO or the next mouse-down.
    void setButtonClicked(bool clicked);
    void setIsFocus(bool focus) { m_isFocus = focus; }
    bool isFocus() const { return m_isFocus; }
    bool isTracking() const { return m_isTracking; }
    // The button's own enabled flag: YES means usable.
    bool isDisabled() const { return m_isDisabled; }
    // Usable: enabled by Qt (the title bar switches that) and by setButtonEnabled.
    bool isUsable() const { return isEnabled() && m_isDisabled; }
    // A centred label over the button; the image is scaled into (0, 0, width - 4, height).
    void setTextWithName(const QString& text, const kit::Rect& frame);

    const kit::Image& normalImage() const { return m_normalImage; }
    const kit::Image& activeImage() const { return m_activeImage; }
    const kit::Image& hoverImage() const { return m_hoverImage; }
    const kit::Image& disableImage() const { return m_disableImage; }
    // The image painted now: null when the state's image is missing (nothing is drawn).
    const kit::Image& imageToDraw() const;
    kit::Label* textField() const { return m_textField; }

    // Images are drawn from the top left.
    bool isFlipped() const override { return true; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    kit::Image m_normalImage;
    kit::Image m_activeImage;
    kit::Image m_hoverImage;
    kit::Image m_disableImage;
    kit::Label* m_textField = nullptr;
    bool m_isTracking = false;
    bool m_isFocus = false;
    bool m_isDisabled = true;
    kit::Rect m_dstRect;
    kit::Rect m_srcRect;
};

class KXHandButton : public kit::Button {
public:
    explicit KXHandButton(const kit::Rect& frame) : kit::Button(frame) {}

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
};
