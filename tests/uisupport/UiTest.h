// Helpers of the ui suites: showing and activating windows offscreen, answering alerts, panels and
// sheets from a script, and reading back what a widget painted.
#pragma once

#include <QColor>
#include <QImage>
#include <QProcessEnvironment>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <string>
#include <vector>

#include "ui/kit/Animation.h"
#include "ui/kit/Modal.h"

namespace uitest {

// Shows window, makes it the active window and waits (without sleeping past need) until Qt says so.
bool ShowAndActivate(QWidget* window);
// Lets queued events run (posted calls, deferred deletes, paints).
void ProcessEvents();

// What a program run by RunProgram did: its exit code (-1 when it did not end in time) and its
// standard output and error together.
struct ProgramRun {
    int exitCode = -1;
    QString output;
};
// A session bus address where no bus answers: a program run by a test never reaches the machine's
// desktop session (its keep-awake hold would inhibit a developer's screen saver, or start a bus where
// none runs).
inline constexpr char kNoSessionBus[] = "unix:path=/nonexistent/brelvox-test-session-bus";
// Runs program with arguments in environment, without a session bus (kNoSessionBus), and waits for
// its end (60 s at most: it is then killed and the test fails).
ProgramRun RunProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment);

// What widget paints, rendered offscreen (transparent where it paints nothing).
QImage Render(QWidget* widget);
// The colour of one pixel as (r, g, b) without alpha, for messages.
std::string Rgb(const QColor& color);

// Switches the kit's animations on for a scope (the ui test main switches them off); pair it with a
// kit::ScopedManualClock to step through a fade.
class ScopedAnimations {
public:
    ScopedAnimations() { kit::SetAnimationsEnabled(true); }
    ~ScopedAnimations() { kit::SetAnimationsEnabled(false); }
    ScopedAnimations(const ScopedAnimations&) = delete;
    ScopedAnimations& operator=(const ScopedAnimations&) = delete;
};

// Answers alerts, panels and sheets from queues, recording what was asked; an empty queue answers
// the default button, Cancel, or shows the sheet.
class ScriptedResponder : public kit::ModalResponder {
public:
    ScriptedResponder() { kit::SetModalResponder(this); }
    ~ScriptedResponder() override { kit::SetModalResponder(nullptr); }

    std::deque<int> alertAnswers;
    std::deque<kit::PanelAnswer> panelAnswers;
    std::deque<int> sheetAnswers;
    std::vector<QString> alertsAsked;  // message texts
    std::vector<QString> panelsAsked;  // titles

    int answerAlert(const kit::Alert& alert) override;
    kit::PanelAnswer answerPanel(const kit::SavePanel& panel) override;
    std::optional<int> answerSheet(const kit::Window& sheet) override;
};

}  // namespace uitest
