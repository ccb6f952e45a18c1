// The main of every ui test program: Qt runs offscreen (no display needed), animations are off, the
// user's settings live in a fresh folder, and times through local time are pinned to UTC.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <ctime>

#include "ui/kit/Window.h"

namespace {

// The offscreen platform reports every raise() it cannot do; nothing else is dropped.
QtMessageHandler g_standard = nullptr;

void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("This plugin does not support"))) return;
    if (g_standard) g_standard(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir settings;
    setenv("XDG_CONFIG_HOME", qPrintable(settings.path()), 1);
    setenv("XDG_RUNTIME_DIR", qPrintable(settings.path()), 1);
    g_standard = qInstallMessageHandler(QuietHandler);
    QApplication app(argc, argv);
    kit::SetAnimationsEnabled(false);
    // The pointer starts away from every window, so that no window begins with a button under it.
    QCursor::setPos(QPoint(5000, 5000));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
