// kit::ProgressIndicator over QProgressBar: the platform's bar, determinate (doubleValue between
// minValue and maxValue) or indeterminate (a busy bar while animating).
#pragma once

#include <QProgressBar>

#include "ui/kit/ViewBase.h"

namespace kit {

class ProgressIndicator : public ViewBase<QProgressBar> {
public:
    explicit ProgressIndicator(const Rect& frame = {});

    void setMinValue(double value);
    void setMaxValue(double value);
    double minValue() const { return m_min; }
    double maxValue() const { return m_max; }
    void setDoubleValue(double value);
    double doubleValue() const { return m_value; }
    void setIndeterminate(bool on);
    bool isIndeterminate() const { return m_indeterminate; }
    void startAnimation();
    void stopAnimation();
    // Whether a stopped indeterminate bar stays visible.
    void setDisplayedWhenStopped(bool on);

private:
    void apply();

    static constexpr int kSteps = 10000;
    double m_min = 0;
    double m_max = 100;
    double m_value = 0;
    bool m_indeterminate = false;
    bool m_animating = false;
    bool m_displayedWhenStopped = true;
};

}  // namespace kit
