// GroupView: a container that paints a white background with a light rounded frame, 18 points in
// from the left, right and bottom and 35 from the top.
#pragma once

#include "ui/kit/View.h"

class GroupView : public kit::View {
public:
    explicit GroupView(const kit::Rect& frame = {}) : kit::View(frame) {}

    // The frame's box in the view's coordinates (y up): (18, 18, width - 36, height - 53), inset by
    // half a point so that its line of width 1 covers whole pixels.
    static kit::Rect frameBoxForBounds(const kit::Rect& bounds);

protected:
    // The box follows the view's bounds whatever part is redrawn.
    void drawRect(QPainter& painter, const kit::Rect& dirty) override;
};
