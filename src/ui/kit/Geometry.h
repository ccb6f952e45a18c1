// Points, sizes and rectangles in the kit's coordinates: doubles, with the origin at the bottom left
// of the superview (y grows upwards) unless the superview is flipped. Qt's integer widget geometry is
// derived from these when a view is placed, so frames keep their fractions across resizes.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace kit {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    double x() const { return origin.x; }
    double y() const { return origin.y; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double midX() const { return origin.x + size.width * 0.5; }
    double midY() const { return origin.y + size.height * 0.5; }
    bool contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
    bool operator==(const Rect&) const = default;
};

inline Rect MakeRect(double x, double y, double width, double height) { return Rect{{x, y}, {width, height}}; }
inline Size MakeSize(double width, double height) { return Size{width, height}; }
inline Point MakePoint(double x, double y) { return Point{x, y}; }

// The rectangle shrunk by dx on the left and right and dy at the bottom and top (negative grows it).
inline Rect InsetRect(Rect r, double dx, double dy) {
    return MakeRect(r.x() + dx, r.y() + dy, r.width() - 2 * dx, r.height() - 2 * dy);
}

// Nearest whole number, halves away from zero.
double RoundHalfAway(double value);

// Autoresizing mask bits: which margins and sizes of a view follow its superview's size.
enum AutoresizingMask : unsigned {
    kViewNotSizable = 0,
    kViewMinXMargin = 1,
    kViewWidthSizable = 2,
    kViewMaxXMargin = 4,
    kViewMinYMargin = 8,
    kViewHeightSizable = 16,
    kViewMaxYMargin = 32,
};

// The frame a view with mask takes when its superview changes from oldSize to newSize. Along each
// axis the change is shared evenly among the flexible parts (left margin, width, right margin; bottom
// margin, height, top margin in the superview's own coordinates); with none flexible the view keeps
// its distance from the origin side. A width or height never becomes negative.
Rect ResizeWithOldSuperviewSize(const Rect& frame, unsigned mask, Size oldSize, Size newSize);

// The rectangle as Qt draws it in a view of the given height: y flipped unless the view is flipped.
QRectF ToQtRect(const Rect& r, double viewHeight, bool flipped);
// A point given by Qt (y down) in the kit's coordinates of a view of the given height.
Point FromQtPoint(const QPointF& p, double viewHeight, bool flipped);

}  // namespace kit
