// Alerts (over QMessageBox), open and save panels (over QFileDialog) and the responder that answers
// them, and sheets, in tests. Each runs modal (runModal, a level of the application's modal stack,
// also while the responder answers) or as a sheet of a window with a completion.
#pragma once

#include <QPixmap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QFileDialog;

namespace kit {

class Window;
class Alert;
class SavePanel;

// Alert answers: the default button, the alternate one, the other one.
inline constexpr int kAlertDefaultReturn = 1;
inline constexpr int kAlertAlternateReturn = 0;
inline constexpr int kAlertOtherReturn = -1;
// Panel answers.
inline constexpr int kPanelOKButton = 1;
inline constexpr int kPanelCancelButton = 0;

struct PanelAnswer {
    int code = kPanelCancelButton;
    QStringList paths;  // the chosen files or folders when code is kPanelOKButton
};

// While one is installed, alerts, panels and sheets ask it instead of showing themselves.
class ModalResponder {
public:
    virtual ~ModalResponder() = default;
    virtual int answerAlert(const Alert& alert) = 0;
    virtual PanelAnswer answerPanel(const SavePanel& panel) = 0;
    // A code ends the sheet on the next turn of the event loop; none shows it as usual.
    virtual std::optional<int> answerSheet(const Window& sheet) { return std::nullopt; }
};
void SetModalResponder(ModalResponder* responder);
ModalResponder* CurrentModalResponder();

class Alert {
public:
    enum class Style { Warning, Informational, Critical };

    // Buttons: defaultButton (empty: "OK"), then the alternate and the other when not empty.
    Alert(QString messageText, QString defaultButton, QString alternateButton = {}, QString otherButton = {},
          QString informativeText = {});

    const QString& messageText() const { return m_message; }
    const QString& informativeText() const { return m_informative; }
    const QString& defaultButton() const { return m_default; }
    const QString& alternateButton() const { return m_alternate; }
    const QString& otherButton() const { return m_other; }
    void setStyle(Style style) { m_style = style; }
    Style style() const { return m_style; }
    // An image in place of the style's icon (a null one: the style's).
    void setIcon(const QPixmap& icon) { m_icon = icon; }
    const QPixmap& icon() const { return m_icon; }

    // Shows the alert application-modal; the answer is one of the kAlert...Return codes.
    int runModal() const;
    // Shows the alert window-modal on window and returns at once; completion gets the answer.
    void beginSheetModalForWindow(Window* window, std::function<void(int)> completion) const;

private:
    QString m_message;
    QString m_default;
    QString m_alternate;
    QString m_other;
    QString m_informative;
    Style m_style = Style::Warning;
    QPixmap m_icon;
};

// The save panel; OpenPanel adds the choice of existing files and folders.
class SavePanel {
public:
    virtual ~SavePanel() = default;
    virtual bool isOpenPanel() const { return false; }

    void setTitle(const QString& title) { m_title = title; }
    const QString& title() const { return m_title; }
    void setMessage(const QString& message) { m_message = message; }
    const QString& message() const { return m_message; }
    void setDirectory(const QString& directory) { m_directory = directory; }
    const QString& directory() const { return m_directory; }
    void setNameFieldStringValue(const QString& name) { m_name = name; }
    const QString& nameFieldStringValue() const { return m_name; }
    // File name extensions without the dot; empty allows every file.
    void setAllowedFileTypes(const QStringList& types) { m_types = types; }
    const QStringList& allowedFileTypes() const { return m_types; }
    void setCanCreateDirectories(bool on) { m_canCreateDirectories = on; }

    int runModal();
    // The panel must live until completion has run.
    void beginSheetModalForWindow(Window* window, std::function<void(int)> completion);
    // The chosen path (the first one of an open panel).
    QString path() const { return m_paths.isEmpty() ? QString() : m_paths.front(); }
    const QStringList& paths() const { return m_paths; }

protected:
    virtual void configure(QFileDialog& dialog) const;

    QString m_title;
    QString m_message;
    QString m_directory;
    QString m_name;
    QStringList m_types;
    bool m_canCreateDirectories = true;
    QStringList m_paths;
};

class OpenPanel : public SavePanel {
public:
    bool isOpenPanel() const override { return true; }
    void setCanChooseFiles(bool on) { m_files = on; }
    void setCanChooseDirectories(bool on) { m_directories = on; }
    void setAllowsMultipleSelection(bool on) { m_multiple = on; }
    bool canChooseFiles() const { return m_files; }
    bool canChooseDirectories() const { return m_directories; }
    bool allowsMultipleSelection() const { return m_multiple; }

protected:
    void configure(QFileDialog& dialog) const override;

private:
    bool m_files = true;
    bool m_directories = false;
    bool m_multiple = false;
};

}  // namespace kit
