// A text shadow (AppKit's NSShadow): an offset in the kit's coordinates (y up), a blur radius and a
// colour. The kit draws shadows without blur.
#pragma once

#include <QColor>

#include "ui/kit/Geometry.h"

namespace kit {

struct Shadow {
    Size offset;
    double blurRadius = 0;
    QColor color;
};

}  // namespace kit
