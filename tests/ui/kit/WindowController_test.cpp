// Controllers load their window or view from the nib registry on first access, once, in AppKit's
// order; an unknown nib gives no window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/kit/WindowController.h"

namespace {

std::vector<std::string> g_steps;

class ProbeWindowController : public kit::WindowController {
public:
    explicit ProbeWindowController(const QString& nib) : kit::WindowController(nib) {}
    kit::View* outlet = nullptr;
    void awakeFromNib() override { g_steps.push_back(std::string("awake, outlet set: ") + (outlet ? "yes" : "no")); }

protected:
    void windowWillLoad() override { g_steps.push_back("will load"); }
    void windowDidLoad() override { g_steps.push_back("did load"); }
};

class ProbeViewController : public kit::ViewController {
public:
    ProbeViewController() : kit::ViewController("ProbePageXib") {}
    int loaded = 0;

protected:
    void viewDidLoad() override { ++loaded; }
};

TEST(WindowController, TheNibBuilderRunsOnFirstAccessThenAwakeFromNibThenWindowDidLoad) {
    g_steps.clear();
    kit::RegisterNib("ProbeXib", [](kit::NibOwner& owner) {
        g_steps.push_back("builder");
        auto& controller = dynamic_cast<ProbeWindowController&>(owner);
        auto* window = new kit::Window(kit::MakeSize(200, 100));
        controller.outlet = new kit::View(kit::MakeRect(10, 10, 50, 20));
        window->contentView()->addSubview(controller.outlet);
        controller.setWindow(window);
    });
    ProbeWindowController controller("ProbeXib");
    EXPECT_TRUE(g_steps.empty()) << "nothing loads before the window is asked for";
    EXPECT_FALSE(controller.isWindowLoaded());
    kit::Window* window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(controller.window(), window);
    EXPECT_EQ(g_steps, (std::vector<std::string>{"will load", "builder", "awake, outlet set: yes", "did load"}));
}

TEST(WindowController, AnUnknownNibGivesNoWindowAndIsNotTriedAgain) {
    g_steps.clear();
    ProbeWindowController controller("NoSuchXib");
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_EQ(g_steps, (std::vector<std::string>{"will load"}));
    controller.showWindow();  // harmless
}

TEST(WindowController, AViewControllerLoadsItsViewOnce) {
    kit::RegisterNib("ProbePageXib", [](kit::NibOwner& owner) {
        dynamic_cast<ProbeViewController&>(owner).setView(new kit::View(kit::MakeRect(0, 0, 300, 200)));
    });
    ProbeViewController controller;
    kit::View* view = controller.view();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(controller.view(), view);
    EXPECT_EQ(controller.loaded, 1);
    EXPECT_EQ(view->frame(), kit::MakeRect(0, 0, 300, 200));
}

}  // namespace
