#include "ui/shell/KXAboutWindowController.h"

#include <QFontMetricsF>
#include <cmath>

#include "platform/foundation/ResourcePropertyList.h"
#include "ui/controls/TCImageWindow.h"
#include "ui/kit/Image.h"
#include "ui/kit/ImageView.h"
#include "ui/kit/Localized.h"
#include "ui/kit/UrlOpener.h"
#include "ui/shell/KXLinkUrl.h"
#include "ui/shell/ShellSettings.h"

using kit::MakeRect;

namespace shell {

namespace {

namespace layout = about_layout;

const QColor kLinkColour(24, 90, 166);

void BuildAboutWindow(kit::NibOwner& owner) {
    auto& controller = dynamic_cast<KXAboutWindowController&>(owner);
    auto* window = new TCImageWindow(kit::MakeSize(layout::kWidth, layout::kHeight));
    window->setTitleBarHeight(layout::kBarHeight);
    window->setBackgroundColor(QColor(Qt::white));
    window->layoutTrafficLightsAndContent();
    kit::View* content = window->contentView();

    auto* logo = new kit::ImageView(MakeRect(148, 110, 64, 64));
    logo->setImage(kit::Image::named("logo"));
    content->addSubview(logo);

    controller.nameLabel = new kit::Label(MakeRect(20, 78, 320, 24));
    QFont name = controller.nameLabel->font();
    name.setPixelSize(17);
    name.setBold(true);
    controller.nameLabel->setFont(name);
    controller.nameLabel->setTextAlignment(Qt::AlignHCenter);
    content->addSubview(controller.nameLabel);

    controller.versionLabel = new kit::Label(MakeRect(20, 54, 320, 20));
    controller.versionLabel->setTextAlignment(Qt::AlignHCenter);
    controller.versionLabel->setTextColor(QColor(126, 143, 164));
    content->addSubview(controller.versionLabel);

    controller.aboutlink = new kit::Label(MakeRect(20, 22, 320, 20));
    controller.aboutlink->setTextAlignment(Qt::AlignHCenter);
    content->addSubview(controller.aboutlink);
    controller.aboutlinkLine = new kit::View(MakeRect(0, 21, 0, 1));
    controller.aboutlinkLine->setBackgroundColor(kLinkColour);
    content->addSubview(controller.aboutlinkLine);

    controller.setWindow(window);
}

}  // namespace

KXAboutWindowController::KXAboutWindowController() : FadingWindowController(kAboutNibName) {}

void KXAboutWindowController::RegisterNib() {
    if (!kit::IsNibRegistered(kAboutNibName)) kit::RegisterNib(kAboutNibName, BuildAboutWindow);
}

void KXAboutWindowController::windowDidLoad() {
    setUpBar(MakeRect(70, 0, 300, 22), 13);
    auto& data = Settings::PrivateData();
    const std::string product = data.GetString(brelvox::foundation::private_data::kProductName).value_or("Brelvox");
    const std::string version = data.GetString(brelvox::foundation::private_data::kInstallVersion).value_or("");
    nameLabel->setStringValue(QString::fromStdString(product));
    versionLabel->setStringValue(kit::localizedFormat("ABOUT_VERSION", version));

    // The link shows only when it leads somewhere; its line is as wide as its text.
    const auto address = KXLinkUrl::GetUrl("AboutURL");
    aboutlink->setHidden(!address);
    aboutlinkLine->setHidden(!address);
    if (!address) return;
    const QString text = kit::localizedString("ABOUT_LINK");
    kit::TextRun run{text};
    run.color = kLinkColour;
    run.link = QString::fromStdString(*address);
    aboutlink->setAttributedStringValue(kit::AttributedString().append(run));
    aboutlink->setLinkHandler([this](const QString&) { linkButtonAction(); });
    const double width = std::ceil(QFontMetricsF(aboutlink->font()).horizontalAdvance(text));
    const kit::Rect link = aboutlink->frame();
    aboutlinkLine->setFrame(MakeRect(link.origin.x + (link.size.width - width) / 2, link.origin.y - 1, width, 1));
}

void KXAboutWindowController::linkButtonAction() {
    if (const auto address = KXLinkUrl::GetUrl("AboutURL")) kit::UrlOpener::current().open(*address);
}

}  // namespace shell
