#include "ui/kit/Modal.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <utility>
#include <vector>

#include "ui/kit/Application.h"
#include "ui/kit/Window.h"

namespace kit {

namespace {

ModalResponder* g_responder = nullptr;

using ButtonCodes = std::vector<std::pair<QAbstractButton*, int>>;

QMessageBox* MakeBox(const Alert& alert, QWidget* parent, ButtonCodes& codes) {
    auto* box = new QMessageBox(parent);
    box->setText(alert.messageText());
    box->setInformativeText(alert.informativeText());
    switch (alert.style()) {
        case Alert::Style::Warning: box->setIcon(QMessageBox::Warning); break;
        case Alert::Style::Informational: box->setIcon(QMessageBox::Information); break;
        case Alert::Style::Critical: box->setIcon(QMessageBox::Critical); break;
    }
    if (!alert.icon().isNull()) box->setIconPixmap(alert.icon());
    const QString first = alert.defaultButton().isEmpty() ? QStringLiteral("OK") : alert.defaultButton();
    QPushButton* defaultButton = box->addButton(first, QMessageBox::AcceptRole);
    codes.emplace_back(defaultButton, kAlertDefaultReturn);
    box->setDefaultButton(defaultButton);
    box->setEscapeButton(defaultButton);
    if (!alert.alternateButton().isEmpty()) {
        QPushButton* button = box->addButton(alert.alternateButton(), QMessageBox::RejectRole);
        codes.emplace_back(button, kAlertAlternateReturn);
        box->setEscapeButton(button);
    }
    if (!alert.otherButton().isEmpty()) {
        codes.emplace_back(box->addButton(alert.otherButton(), QMessageBox::DestructiveRole), kAlertOtherReturn);
    }
    return box;
}

int CodeOf(const ButtonCodes& codes, const QAbstractButton* clicked) {
    for (const auto& [button, code] : codes) {
        if (button == clicked) return code;
    }
    // Closed without a button: the escape answer.
    return codes.size() > 1 ? kAlertAlternateReturn : kAlertDefaultReturn;
}

QObject* Context(Window* window) { return window ? static_cast<QObject*>(window) : qApp; }

QString NameFilter(const QStringList& types) {
    if (types.isEmpty()) return {};
    QStringList patterns;
    for (const QString& type : types) patterns << QStringLiteral("*.") + type;
    return patterns.join(QLatin1Char(' '));
}

}  // namespace

void SetModalResponder(ModalResponder* responder) { g_responder = responder; }
ModalResponder* CurrentModalResponder() { return g_responder; }

Alert::Alert(QString messageText, QString defaultButton, QString alternateButton, QString otherButton,
             QString informativeText)
    : m_message(std::move(messageText)),
      m_default(std::move(defaultButton)),
      m_alternate(std::move(alternateButton)),
      m_other(std::move(otherButton)),
      m_informative(std::move(informativeText)) {}

int Alert::runModal() const {
    if (g_responder) {
        const Application::ModalScope level;
        return g_responder->answerAlert(*this);
    }
    ButtonCodes codes;
    std::unique_ptr<QMessageBox> box(MakeBox(*this, nullptr, codes));
    QMessageBox* shown = box.get();
    QObject::connect(shown, &QDialog::finished, shown, [shown, &codes] {
        Application::shared().stopModalForWidget(shown, CodeOf(codes, shown->clickedButton()));
    });
    return Application::shared().runModalForWidget(shown);
}

void Alert::beginSheetModalForWindow(Window* window, std::function<void(int)> completion) const {
    if (g_responder) {
        const int code = g_responder->answerAlert(*this);
        QTimer::singleShot(0, Context(window), [completion = std::move(completion), code] {
            if (completion) completion(code);
        });
        return;
    }
    auto codes = std::make_shared<ButtonCodes>();
    QMessageBox* box = MakeBox(*this, window, *codes);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, box, [box, codes, completion = std::move(completion)](int) {
        if (completion) completion(CodeOf(*codes, box->clickedButton()));
    });
    box->open();
}

void SavePanel::configure(QFileDialog& dialog) const {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!m_canCreateDirectories) dialog.setOption(QFileDialog::ReadOnly);
    if (!m_name.isEmpty()) dialog.selectFile(m_name);
    if (!m_types.isEmpty()) dialog.setDefaultSuffix(m_types.front());
}

void OpenPanel::configure(QFileDialog& dialog) const {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (m_directories && !m_files) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog.setFileMode(m_multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
}

int SavePanel::runModal() {
    if (g_responder) {
        const Application::ModalScope level;
        PanelAnswer answer = g_responder->answerPanel(*this);
        m_paths = answer.code == kPanelOKButton ? answer.paths : QStringList();
        return answer.code;
    }
    QFileDialog dialog(nullptr, m_title, m_directory, NameFilter(m_types));
    configure(dialog);
    QObject::connect(&dialog, &QDialog::finished, &dialog, [&dialog](int result) {
        Application::shared().stopModalForWidget(&dialog, result == QDialog::Accepted ? kPanelOKButton
                                                                                     : kPanelCancelButton);
    });
    const bool accepted = Application::shared().runModalForWidget(&dialog) == kPanelOKButton;
    m_paths = accepted ? dialog.selectedFiles() : QStringList();
    return accepted ? kPanelOKButton : kPanelCancelButton;
}

void SavePanel::beginSheetModalForWindow(Window* window, std::function<void(int)> completion) {
    if (g_responder) {
        PanelAnswer answer = g_responder->answerPanel(*this);
        m_paths = answer.code == kPanelOKButton ? answer.paths : QStringList();
        QTimer::singleShot(0, Context(window), [completion = std::move(completion), code = answer.code] {
            if (completion) completion(code);
        });
        return;
    }
    auto* dialog = new QFileDialog(window, m_title, m_directory, NameFilter(m_types));
    configure(*dialog);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog,
                     [this, dialog, completion = std::move(completion)](int result) {
                         const bool accepted = result == QDialog::Accepted;
                         m_paths = accepted ? dialog->selectedFiles() : QStringList();
                         if (completion) completion(accepted ? kPanelOKButton : kPanelCancelButton);
                     });
    dialog->open();
}

}  // namespace kit
