#include "ui/kit/ProgressIndicator.h"

#include <algorithm>
#include <cmath>

namespace kit {

ProgressIndicator::ProgressIndicator(const Rect& frame) : ViewBase<QProgressBar>(frame) {
    setTextVisible(false);
    apply();
}

void ProgressIndicator::setMinValue(double value) {
    m_min = value;
    apply();
}

void ProgressIndicator::setMaxValue(double value) {
    m_max = value;
    apply();
}

void ProgressIndicator::setDoubleValue(double value) {
    m_value = value;
    apply();
}

void ProgressIndicator::setIndeterminate(bool on) {
    m_indeterminate = on;
    apply();
}

void ProgressIndicator::startAnimation() {
    m_animating = true;
    apply();
}

void ProgressIndicator::stopAnimation() {
    m_animating = false;
    apply();
}

void ProgressIndicator::setDisplayedWhenStopped(bool on) {
    m_displayedWhenStopped = on;
    apply();
}

void ProgressIndicator::apply() {
    if (m_indeterminate) {
        // Qt shows a busy bar for an empty range.
        if (m_animating) {
            setRange(0, 0);
        } else {
            setRange(0, kSteps);
            setValue(0);
        }
        if (!m_displayedWhenStopped && parentWidget()) setVisible(m_animating);
        return;
    }
    setRange(0, kSteps);
    const double span = m_max - m_min;
    const double fraction = span > 0 ? std::clamp((m_value - m_min) / span, 0.0, 1.0) : 0.0;
    setValue(int(std::lround(fraction * kSteps)));
}

}  // namespace kit
