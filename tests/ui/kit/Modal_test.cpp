// The modal stack (nested, also from a queued handler), sheets with their completion, and alerts and
// panels answered by a scripted responder.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "ui/kit/Application.h"
#include "ui/kit/Modal.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using brelvox::foundation::Notification;
using brelvox::foundation::NotificationCenter;

TEST(Modal, ANestedModalStartedFromAQueuedHandlerEndsFirstWithItsOwnCode) {
    kit::Application& app = kit::Application::shared();
    app.installMainThreadQueue();
    kit::Window outer(kit::MakeSize(300, 200));
    kit::Window inner(kit::MakeSize(200, 100));
    std::vector<std::string> steps;
    int innerCode = 0;

    // The inner run starts in a notification handler queued onto the main thread, as a window does
    // when a worker's notice arrives during a modal run.
    const int token = 0;
    NotificationCenter::Default().AddObserver(&token, "StartInner", nullptr, [&](const Notification&) {
        steps.push_back("inner starts at depth " + std::to_string(app.modalDepth()));
        QTimer::singleShot(0, [&] {
            steps.push_back("stop inner, modal window is inner: " + std::string(app.modalWindow() == &inner ? "yes" : "no"));
            app.stopModalWithCode(7);
        });
        innerCode = app.runModalForWindow(&inner);
        steps.push_back("inner returned");
        QTimer::singleShot(0, [&] { app.stopModalWithCode(3); });
    });
    QTimer::singleShot(0, [] { NotificationCenter::Default().PostOnMainThread("StartInner"); });

    const int outerCode = app.runModalForWindow(&outer);
    NotificationCenter::Default().RemoveObserver(&token);

    EXPECT_EQ(innerCode, 7);
    EXPECT_EQ(outerCode, 3);
    EXPECT_EQ(app.modalDepth(), 0u);
    EXPECT_EQ(steps, (std::vector<std::string>{"inner starts at depth 1", "stop inner, modal window is inner: yes",
                                               "inner returned"}));
    EXPECT_EQ(outer.windowModality(), Qt::NonModal);
}

TEST(Modal, AStopAskedBeforeTheRunStartsEndsItAtOnceAndStopModalWithoutARunDoesNothing) {
    kit::Application& app = kit::Application::shared();
    app.stopModal();  // nothing runs: no effect
    kit::Window window(kit::MakeSize(100, 100));
    // A show-time handler stops the run before its loop starts.
    struct Stopper : QObject {
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Show) kit::Application::shared().stopModalWithCode(5);
            return false;
        }
    } stopper;
    window.installEventFilter(&stopper);
    EXPECT_EQ(app.runModalForWindow(&window), 5);
    window.removeEventFilter(&stopper);
    QTimer::singleShot(0, [&] { app.stopModal(); });
    EXPECT_EQ(app.runModalForWindow(&window), kit::kModalResponseStop);
}

TEST(Modal, SheetsHangFromTheProposedPlaceAndCompleteWithTheirCode) {
    kit::Window parent(kit::MakeSize(400, 300));
    ASSERT_TRUE(uitest::ShowAndActivate(&parent));
    kit::Window sheet(kit::MakeSize(200, 100));
    int code = -99;
    parent.beginSheet(&sheet, [&](int c) { code = c; });
    EXPECT_EQ(parent.attachedSheet(), &sheet);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    // Centred, its top at the top of the (frameless) window.
    EXPECT_EQ(sheet.geometry().topLeft() - parent.geometry().topLeft(), QPoint(100, 0));
    parent.endSheet(&sheet, 4);
    EXPECT_EQ(code, 4);
    EXPECT_EQ(parent.attachedSheet(), nullptr);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.parentWidget(), nullptr);
}

TEST(Modal, TheScriptedResponderAnswersAlertsPanelsAndSheets) {
    uitest::ScriptedResponder responder;
    responder.alertAnswers = {kit::kAlertAlternateReturn, kit::kAlertOtherReturn};
    kit::Alert alert("Stop the scan?", "Stop", "Continue", "Save first");
    EXPECT_EQ(alert.runModal(), kit::kAlertAlternateReturn);

    kit::Window window(kit::MakeSize(300, 200));
    int sheetAnswer = 99;
    alert.beginSheetModalForWindow(&window, [&](int code) { sheetAnswer = code; });
    EXPECT_EQ(sheetAnswer, 99) << "a sheet completes later, on the event loop";
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheetAnswer != 99; }, 1000));
    EXPECT_EQ(sheetAnswer, kit::kAlertOtherReturn);
    EXPECT_EQ(responder.alertsAsked, (std::vector<QString>{"Stop the scan?", "Stop the scan?"}));

    responder.panelAnswers.push_back({kit::kPanelOKButton, {"/tmp/image.dmg"}});
    kit::OpenPanel open;
    open.setTitle("Open");
    open.setAllowedFileTypes({"dmg", "img", "raw", "dd"});
    EXPECT_EQ(open.runModal(), kit::kPanelOKButton);
    EXPECT_EQ(open.path(), "/tmp/image.dmg");
    kit::SavePanel save;
    save.setTitle("Save");
    EXPECT_EQ(save.runModal(), kit::kPanelCancelButton) << "an empty script cancels";
    EXPECT_TRUE(save.paths().isEmpty());
    EXPECT_EQ(responder.panelsAsked, (std::vector<QString>{"Open", "Save"}));

    responder.sheetAnswers.push_back(2);
    kit::Window sheet(kit::MakeSize(100, 50));
    int sheetCode = -1;
    window.beginSheet(&sheet, [&](int c) { sheetCode = c; });
    EXPECT_FALSE(sheet.isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheetCode != -1; }, 1000));
    EXPECT_EQ(sheetCode, 2);
    EXPECT_EQ(window.attachedSheet(), nullptr);
}

TEST(Modal, ADelegateMayRefuseTheCloseButtonAndHearsTheClose) {
    struct Delegate : kit::WindowDelegate {
        bool allow = false;
        int willClose = 0;
        bool windowShouldClose(kit::Window*) override { return allow; }
        void windowWillClose(kit::Window*) override { ++willClose; }
    } delegate;
    kit::Window window(kit::MakeSize(100, 100));
    window.setDelegate(&delegate);
    window.show();
    window.performClose();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(delegate.willClose, 0);
    delegate.allow = true;
    window.performClose();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(delegate.willClose, 1);
}

TEST(Modal, AFadeOutWithAnimationsOffClosesAtOnceAndRunsItsCompletion) {
    kit::Window window(kit::MakeSize(100, 100));
    window.fadeIn();
    EXPECT_TRUE(window.isVisible());
    EXPECT_DOUBLE_EQ(window.alphaValue(), 1.0);
    bool done = false;
    window.fadeOut([&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_FALSE(window.isVisible());
}

TEST(Modal, AlertsAndPanelsRunAsALevelOfTheModalStackAlsoFromAQueuedHandler) {
    kit::Application& app = kit::Application::shared();
    kit::Window outer(kit::MakeSize(300, 200));

    // A real alert run from a queued handler: while it shows, it is the one modal level; its
    // alternate button answers 0.
    size_t depthInAlert = 0;
    QWidget* shown = nullptr;
    int alertCode = 99;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            depthInAlert = app.modalDepth();
            shown = app.modalWidget();
            auto* box = qobject_cast<QMessageBox*>(shown);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(app.modalWindow(), nullptr) << "an alert is no kit window";
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == "Continue") button->click();
            }
        });
        alertCode = kit::Alert("Stop the scan?", "Stop", "Continue").runModal();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return alertCode != 99; }, 2000));
    EXPECT_EQ(depthInAlert, 1u);
    EXPECT_EQ(alertCode, kit::kAlertAlternateReturn);
    EXPECT_EQ(app.modalDepth(), 0u);

    // Inside a modal window, an alert (answered by the responder) and a real panel each count one level more.
    struct DepthResponder : uitest::ScriptedResponder {
        std::vector<size_t> depths;
        int answerAlert(const kit::Alert& alert) override {
            depths.push_back(kit::Application::shared().modalDepth());
            return ScriptedResponder::answerAlert(alert);
        }
    };
    size_t depthInPanel = 0;
    int panelCode = 99;
    QTemporaryDir folder;
    std::vector<size_t> alertDepths;
    QTimer::singleShot(0, [&] {
        {
            DepthResponder responder;
            kit::Alert("Saved", "OK").runModal();
            alertDepths = responder.depths;
        }
        QTimer::singleShot(0, [&] {
            depthInPanel = app.modalDepth();
            auto* dialog = qobject_cast<QFileDialog*>(app.modalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->selectFile(folder.filePath("result.Brelvox"));
            static_cast<QDialog*>(dialog)->accept();  // protected in QFileDialog, virtual in QDialog
        });
        kit::SavePanel panel;
        panelCode = panel.runModal();
        EXPECT_EQ(panel.path(), folder.filePath("result.Brelvox"));
        app.stopModalWithCode(5);
    });
    EXPECT_EQ(app.runModalForWindow(&outer), 5);
    EXPECT_EQ(alertDepths, (std::vector<size_t>{2}));
    EXPECT_EQ(depthInPanel, 2u);
    EXPECT_EQ(panelCode, kit::kPanelOKButton);
    EXPECT_EQ(app.modalDepth(), 0u);
}

}  // namespace
