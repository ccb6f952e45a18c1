// The main window the program opens: the wizard's ("MainXib") once a builder is registered under that
// name, until then the kit's demo, whose close ends the program as the main window's close does.
#pragma once

#include <memory>

#include "ui/shell/RootWindow.h"

namespace app {

inline constexpr const char* kMainNibName = "MainXib";

std::unique_ptr<shell::IRootWindow> MakeRootWindow();

}  // namespace app
