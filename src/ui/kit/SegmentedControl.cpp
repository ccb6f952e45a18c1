#include "ui/kit/SegmentedControl.h"

#include <cmath>

namespace kit {

SegmentedControl::SegmentedControl(const Rect& frame) : View(frame) {
    m_group.setExclusive(true);
    QObject::connect(&m_group, &QButtonGroup::idClicked, this, [this](int) { sendAction(); });
}

void SegmentedControl::setSegmentCount(int count) {
    count = std::max(count, 0);
    while (int(m_segments.size()) > count) {
        delete m_segments.back();
        m_segments.pop_back();
        m_widths.pop_back();
    }
    while (int(m_segments.size()) < count) {
        auto* button = new QToolButton(this);
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setFocusPolicy(Qt::NoFocus);
        m_group.addButton(button, int(m_segments.size()));
        button->show();
        m_segments.push_back(button);
        m_widths.push_back(0);
    }
    placeSegments();
}

QToolButton* SegmentedControl::segmentButton(int segment) const {
    return segment >= 0 && segment < segmentCount() ? m_segments[size_t(segment)] : nullptr;
}

void SegmentedControl::setLabel(const QString& label, int segment) {
    if (QToolButton* button = segmentButton(segment)) button->setText(label);
}

QString SegmentedControl::label(int segment) const {
    const QToolButton* button = segmentButton(segment);
    return button ? button->text() : QString();
}

void SegmentedControl::setImage(const Image& image, int segment) {
    QToolButton* button = segmentButton(segment);
    if (!button) return;
    button->setIcon(QIcon(image.pixmap()));
    button->setIconSize(QSize(int(image.size().width), int(image.size().height)));
}

void SegmentedControl::setWidth(double width, int segment) {
    if (segment < 0 || segment >= segmentCount()) return;
    m_widths[size_t(segment)] = std::max(width, 0.0);
    placeSegments();
}

int SegmentedControl::selectedSegment() const { return m_group.checkedId(); }

void SegmentedControl::setSelectedSegment(int segment) {
    if (QToolButton* button = segmentButton(segment)) {
        button->setChecked(true);
    } else if (QAbstractButton* checked = m_group.checkedButton()) {
        m_group.setExclusive(false);
        checked->setChecked(false);
        m_group.setExclusive(true);
    }
}

void SegmentedControl::resizeEvent(QResizeEvent* event) {
    View::resizeEvent(event);
    placeSegments();
}

void SegmentedControl::placeSegments() {
    double fixed = 0;
    int flexible = 0;
    for (double w : m_widths) {
        fixed += w;
        if (w == 0) ++flexible;
    }
    const double share = flexible ? std::max(0.0, (width() - fixed) / flexible) : 0;
    double x = 0;
    for (size_t i = 0; i < m_segments.size(); ++i) {
        const double w = m_widths[i] > 0 ? m_widths[i] : share;
        const int left = int(std::lround(x));
        m_segments[i]->setGeometry(left, 0, int(std::lround(x + w)) - left, height());
        x += w;
    }
}

}  // namespace kit
