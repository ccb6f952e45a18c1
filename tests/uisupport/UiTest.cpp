#include "uisupport/UiTest.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QProcess>
#include <QtTest/QTest>

namespace uitest {

bool ShowAndActivate(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, 2000);
}

void ProcessEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

QImage Render(QWidget* widget) {
    // Without the window background that grab() would put under a child widget.
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image.convertToFormat(QImage::Format_ARGB32);
}

std::string Rgb(const QColor& color) {
    return "(" + std::to_string(color.red()) + "," + std::to_string(color.green()) + "," +
           std::to_string(color.blue()) + " a" + std::to_string(color.alpha()) + ")";
}

int ScriptedResponder::answerAlert(const kit::Alert& alert) {
    alertsAsked.push_back(alert.messageText());
    if (alertAnswers.empty()) return kit::kAlertDefaultReturn;
    const int answer = alertAnswers.front();
    alertAnswers.pop_front();
    return answer;
}

kit::PanelAnswer ScriptedResponder::answerPanel(const kit::SavePanel& panel) {
    panelsAsked.push_back(panel.title());
    if (panelAnswers.empty()) return {};
    kit::PanelAnswer answer = panelAnswers.front();
    panelAnswers.pop_front();
    return answer;
}

std::optional<int> ScriptedResponder::answerSheet(const kit::Window&) {
    if (sheetAnswers.empty()) return std::nullopt;
    const int answer = sheetAnswers.front();
    sheetAnswers.pop_front();
    return answer;
}

ProgramRun RunProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcessEnvironment isolated = environment;
    isolated.insert("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus);
    QProcess process;
    process.setProcessEnvironment(isolated);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not end";
        return run;
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    run.exitCode = process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

}  // namespace uitest
