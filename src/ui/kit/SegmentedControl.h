// kit::SegmentedControl over QButtonGroup: a row of exclusive segments (checkable tool buttons placed
// by frames), one selected at a time; choosing one sends the action.
#pragma once

#include <QButtonGroup>
#include <QToolButton>
#include <vector>

#include "ui/kit/Control.h"
#include "ui/kit/Image.h"
#include "ui/kit/View.h"

namespace kit {

class SegmentedControl : public View, public Control {
public:
    explicit SegmentedControl(const Rect& frame = {});

    void setSegmentCount(int count);
    int segmentCount() const { return int(m_segments.size()); }
    void setLabel(const QString& label, int segment);
    QString label(int segment) const;
    void setImage(const Image& image, int segment);
    // A width of 0 shares the free width evenly.
    void setWidth(double width, int segment);
    // -1 when none is selected.
    int selectedSegment() const;
    void setSelectedSegment(int segment);

    QToolButton* segmentButton(int segment) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeSegments();

    QButtonGroup m_group;
    std::vector<QToolButton*> m_segments;
    std::vector<double> m_widths;
};

}  // namespace kit
