// The flat progress strip of the result window: KXProgressView paints a grey track and holds an
// NSProgressBar (our own plain view, not a platform class) whose width follows a percentage.
#pragma once

#include "ui/kit/View.h"

// Track and bar colours (device RGB).
inline const QColor kProgressTrackColor(194, 198, 204);
inline const QColor kProgressBarColor(53, 130, 248);

class NSProgressBar : public kit::View {
public:
    explicit NSProgressBar(const kit::Rect& frame) : kit::View(frame) {}

protected:
    void drawRect(QPainter& painter, const kit::Rect& dirty) override;
};

class KXProgressView : public kit::View {
public:
    // The bar starts at (0, 0), 0 wide and 4 high, following the view's width (mask 6).
    explicit KXProgressView(const kit::Rect& frame);

    // The bar becomes value % of the view's width: full from 1 point short of the width on, and never
    // narrower than 10 points. The value is not clamped.
    void changeProgressValue(float value);
    NSProgressBar* progressBar() const { return m_bar; }

protected:
    void drawRect(QPainter& painter, const kit::Rect& dirty) override;

private:
    NSProgressBar* m_bar;
};
