// The main window as the application delegate sees it: made once at launch, shown, and handed a
// saved scan result named on the command line for its import flow. The program's factory makes the
// wizard's window ("MainXib") once it is registered; tests give a double.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kit {
class Window;
}

namespace shell {

class IRootWindow {
public:
    virtual ~IRootWindow() = default;
    // The window, loaded on first access; null when it could not be made.
    virtual kit::Window* window() = 0;
    virtual void showWindow() = 0;
    // Runs the import flow for the saved scan result at path.
    virtual void importSavedResult(const std::string& path) = 0;
};

using RootWindowFactory = std::function<std::unique_ptr<IRootWindow>()>;

}  // namespace shell
