// The update window ("UpdateVersionXib"): it fetches the version list itself when its window first
// loads, off the main thread with a time-out, showing one of four faces: checking (a turning bar),
// no network (no address, no answer in time or no connection), up to date, or the newer version with
// its what's-new items. The download button opens the "ProUpdateURL" address.
#pragma once

#include <string>
#include <vector>

#include "ui/shell/FadingWindowController.h"
#include "ui/shell/UpdateCheck.h"

namespace kit {
class Button;
class ProgressIndicator;
class ScrollView;
class View;
}  // namespace kit

namespace shell {

inline constexpr const char* kUpdateNibName = "UpdateVersionXib";

// Told when the window closes, by the start-up check that opened it (the main window opens then).
class UpdateWindowDelegate {
public:
    virtual ~UpdateWindowDelegate() = default;
    virtual void runRootWindow() = 0;
};

namespace update_layout {
inline constexpr double kWidth = 460;
inline constexpr double kHeight = 330;
inline constexpr double kBarHeight = 25;
// The what's-new list: items 380 wide in a document 430 wide, measured as drawn.
inline constexpr double kDocumentWidth = 430;
inline constexpr double kItemWidth = 380;
inline constexpr double kMinimumListHeight = 99;
inline constexpr double kMinimumItemRoom = 30;  // what an item adds to the list's height at least
inline constexpr double kMinimumItemHeight = 25;
inline constexpr int kItemFontPixels = 13;
}  // namespace update_layout

class KXCheckUpdateWindowController : public FadingWindowController {
public:
    enum class Face { Checking, NoNetwork, NoUpdate, HaveUpdate };

    KXCheckUpdateWindowController();
    ~KXCheckUpdateWindowController() override;

    static void RegisterNib();

    // Not owned; null for none (opened from the menu).
    void setDelegate(UpdateWindowDelegate* delegate) { m_delegate = delegate; }
    UpdateWindowDelegate* delegate() const { return m_delegate; }

    // The face shown now.
    Face face() const;
    // Asks for the list (at window load); the face follows the answer.
    void getVersionChange();
    // Shows the answer: no network, up to date, or the newer version and its items.
    void whatIsNewVersionDiff(const VersionList& list);
    // The download button.
    void updateClickHereAction();
    // The close button of the face.
    void closeWindowAction() { closeWindow(); }

    // The height a text takes in font within width, as a word-wrapping label draws it.
    static double heightForStringDrawing(const QString& text, const QFont& font, double width);
    // The font the items are drawn in.
    static QFont itemFont();

    // Outlets set by the nib's builder.
    kit::View* checkProgressView = nullptr;
    kit::View* noNetworkView = nullptr;
    kit::View* noUpdateView = nullptr;
    kit::View* haveUpdateView = nullptr;
    kit::Label* titleLable = nullptr;
    kit::Label* versionLabel = nullptr;
    kit::ScrollView* changeValueScrollView = nullptr;
    kit::View* showVersionScrollView = nullptr;
    kit::ProgressIndicator* progressBar = nullptr;
    kit::Button* updateButton = nullptr;
    // The item labels made by the last newer-version answer, top first.
    std::vector<kit::Label*> itemLabels;

protected:
    void windowDidLoad() override;
    void windowDidClose() override;

private:
    void showOnly(kit::View* face);

    UpdateWindowDelegate* m_delegate = nullptr;
    // Cleared when the controller goes, so that a late answer finds nothing to change.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace shell
