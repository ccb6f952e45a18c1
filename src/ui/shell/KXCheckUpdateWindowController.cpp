#include "ui/shell/KXCheckUpdateWindowController.h"

#include <QApplication>
#include <QPalette>
#include <algorithm>

#include "ui/controls/TCImageWindow.h"
#include "ui/kit/Button.h"
#include "ui/kit/Localized.h"
#include "ui/kit/ProgressIndicator.h"
#include "ui/kit/ScrollView.h"
#include "ui/kit/UrlOpener.h"
#include "ui/shell/KXLinkUrl.h"

using kit::MakeRect;

namespace shell {

namespace {

namespace layout = update_layout;

constexpr double kContentHeight = layout::kHeight - layout::kBarHeight;

kit::View* MakeFace(kit::View* content) {
    auto* face = new kit::View(MakeRect(0, 0, layout::kWidth, kContentHeight));
    content->addSubview(face);
    return face;
}

kit::Label* MakeMessage(kit::View* face, const kit::Rect& frame, const QString& text) {
    auto* label = new kit::Label(frame, text);
    label->setWraps(true);
    label->setTextAlignment(Qt::AlignHCenter);
    face->addSubview(label);
    return label;
}

kit::Button* MakeButton(kit::View* face, const kit::Rect& frame, const QString& title, std::function<void()> action) {
    auto* button = new kit::Button(frame);
    button->setTitle(title);
    button->setAction(std::move(action));
    face->addSubview(button);
    return button;
}

void BuildUpdateWindow(kit::NibOwner& owner) {
    auto& controller = dynamic_cast<KXCheckUpdateWindowController&>(owner);
    auto* window = new TCImageWindow(kit::MakeSize(layout::kWidth, layout::kHeight));
    window->setTitleBarHeight(layout::kBarHeight);
    window->setBackgroundColor(QColor(Qt::white));
    window->layoutTrafficLightsAndContent();
    kit::View* content = window->contentView();

    controller.checkProgressView = MakeFace(content);
    MakeMessage(controller.checkProgressView, MakeRect(30, 170, 400, 24), kit::localizedString("UPDATE_CHECKING"));
    controller.progressBar = new kit::ProgressIndicator(MakeRect(80, 135, 300, 16));
    controller.progressBar->setIndeterminate(true);
    controller.checkProgressView->addSubview(controller.progressBar);

    const auto close = [&controller] { controller.closeWindowAction(); };
    controller.noNetworkView = MakeFace(content);
    MakeMessage(controller.noNetworkView, MakeRect(30, 130, 400, 70), kit::localizedString("UPDATE_NO_NETWORK"));
    MakeButton(controller.noNetworkView, MakeRect(180, 30, 100, 32), kit::localizedString("UPDATE_CLOSE_BUTTON"),
               close);

    controller.noUpdateView = MakeFace(content);
    MakeMessage(controller.noUpdateView, MakeRect(30, 140, 400, 50), kit::localizedString("UPDATE_NO_UPDATE"));
    MakeButton(controller.noUpdateView, MakeRect(180, 30, 100, 32), kit::localizedString("UPDATE_CLOSE_BUTTON"), close);

    kit::View* have = controller.haveUpdateView = MakeFace(content);
    controller.titleLable = new kit::Label(MakeRect(15, 262, 430, 24));
    QFont heading = controller.titleLable->font();
    heading.setPixelSize(15);
    heading.setBold(true);
    controller.titleLable->setFont(heading);
    have->addSubview(controller.titleLable);
    controller.versionLabel = new kit::Label(MakeRect(15, 236, 430, 20));
    have->addSubview(controller.versionLabel);
    controller.changeValueScrollView = new kit::ScrollView(MakeRect(15, 72, 430, 158));
    controller.changeValueScrollView->setHasHorizontalScroller(false);
    controller.changeValueScrollView->setHasVerticalScroller(true);
    controller.showVersionScrollView =
        new kit::View(MakeRect(0, 0, layout::kDocumentWidth, layout::kMinimumListHeight));
    controller.changeValueScrollView->setDocumentView(controller.showVersionScrollView);
    have->addSubview(controller.changeValueScrollView);
    controller.updateButton =
        MakeButton(have, MakeRect(215, 24, 110, 32), kit::localizedString("UPDATE_DOWNLOAD_BUTTON"),
                   [&controller] { controller.updateClickHereAction(); });
    MakeButton(have, MakeRect(335, 24, 110, 32), kit::localizedString("UPDATE_CLOSE_BUTTON"), close);

    controller.setWindow(window);
}

}  // namespace

KXCheckUpdateWindowController::KXCheckUpdateWindowController() : FadingWindowController(kUpdateNibName) {}

KXCheckUpdateWindowController::~KXCheckUpdateWindowController() {
    *m_alive = false;
}

void KXCheckUpdateWindowController::RegisterNib() {
    if (!kit::IsNibRegistered(kUpdateNibName)) kit::RegisterNib(kUpdateNibName, BuildUpdateWindow);
}

void KXCheckUpdateWindowController::windowDidLoad() {
    setUpBar(MakeRect(80, 0, 300, 25), 14);
    getVersionChange();
    changeValueScrollView->scrollToPoint(QPoint(0, 0));
}

void KXCheckUpdateWindowController::windowDidClose() {
    if (m_delegate) m_delegate->runRootWindow();
}

KXCheckUpdateWindowController::Face KXCheckUpdateWindowController::face() const {
    if (noNetworkView && !noNetworkView->isHidden()) return Face::NoNetwork;
    if (noUpdateView && !noUpdateView->isHidden()) return Face::NoUpdate;
    if (haveUpdateView && !haveUpdateView->isHidden()) return Face::HaveUpdate;
    return Face::Checking;
}

void KXCheckUpdateWindowController::showOnly(kit::View* face) {
    for (kit::View* each : {checkProgressView, noNetworkView, noUpdateView, haveUpdateView}) {
        if (each) each->setHidden(each != face);
    }
    if (!progressBar) return;
    if (face == checkProgressView) {
        progressBar->startAnimation();
    } else {
        progressBar->stopAnimation();
    }
}

void KXCheckUpdateWindowController::getVersionChange() {
    showOnly(checkProgressView);
    std::weak_ptr<bool> alive = m_alive;
    FetchVersionList([this, alive](const VersionList& list) {
        if (alive.expired()) return;
        whatIsNewVersionDiff(list);
    });
}

QFont KXCheckUpdateWindowController::itemFont() {
    QFont font(QStringLiteral("Helvetica Neue Light"));
    font.setPixelSize(update_layout::kItemFontPixels);
    return font;
}

double KXCheckUpdateWindowController::heightForStringDrawing(const QString& text, const QFont& font, double width) {
    kit::Label measure(MakeRect(0, 0, width, 1), text);
    measure.setFont(font);
    measure.setWraps(true);
    return measure.heightForWidth(int(width));
}

void KXCheckUpdateWindowController::whatIsNewVersionDiff(const VersionList& list) {
    if (list.outcome != VersionList::Outcome::Read) {
        showOnly(noNetworkView);
        return;
    }
    if (!list.isNewerThan(LocalVersionCheck())) {
        showOnly(noUpdateView);
        return;
    }
    showOnly(haveUpdateView);
    const QString version = QString::fromStdString(list.version);
    versionLabel->setStringValue(kit::localizedFormat("New features of Version %@:", version));
    titleLable->setStringValue(kit::localizedFormat("Brelvox %@ has been released.", version));

    for (kit::Label* label : itemLabels) delete label;
    itemLabels.clear();
    // Each item is measured as it is drawn: its numbered text, in its font, at its width. A wrapped item
    // keeps the room a one-line item leaves under its line, so every item stands as far from the next.
    const double oneLine = heightForStringDrawing(QStringLiteral("1."), itemFont(), layout::kItemWidth);
    const double spare = std::max(0.0, layout::kMinimumItemHeight - oneLine);
    std::vector<double> heights;
    double listHeight = 0;
    for (size_t i = 0; i < list.items.size(); ++i) {
        const QString text = QString::fromStdString(list.items[i]);
        auto* label = new kit::Label(MakeRect(0, 0, layout::kItemWidth, layout::kMinimumItemHeight),
                                     QStringLiteral("%1.%2").arg(i + 1).arg(text));
        label->setFont(itemFont());
        label->setWraps(true);
        label->setToolTip(text);
        label->setBackgroundColor(QApplication::palette().color(QPalette::Window));
        const double drawn =
            heightForStringDrawing(label->stringValue(), label->font(), layout::kItemWidth) + spare;
        heights.push_back(std::max(layout::kMinimumItemHeight, drawn));
        listHeight += std::max(layout::kMinimumItemRoom, drawn);
        itemLabels.push_back(label);
    }
    listHeight = std::max(layout::kMinimumListHeight, listHeight);
    showVersionScrollView->setFrame(MakeRect(0, 0, layout::kDocumentWidth, listHeight));
    double used = 0;
    for (size_t i = 0; i < itemLabels.size(); ++i) {
        used += heights[i];
        itemLabels[i]->setFrame(MakeRect(0, listHeight - used, layout::kItemWidth, heights[i]));
        showVersionScrollView->addSubview(itemLabels[i]);
    }
    changeValueScrollView->scrollToPoint(QPoint(0, 0));
}

void KXCheckUpdateWindowController::updateClickHereAction() {
    if (const auto address = KXLinkUrl::GetUrl("ProUpdateURL")) kit::UrlOpener::current().open(*address);
}

}  // namespace shell
