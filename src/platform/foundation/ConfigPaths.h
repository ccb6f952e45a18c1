// Where settings and shipped resources live: settings in $XDG_CONFIG_HOME/Brelvox (by default
// ~/.config/Brelvox), resources in the "resources" folder shipped beside the program.
#pragma once

#include <string>

namespace brelvox::foundation {

// The per-user settings folder (not created here). Read from the environment on every call.
std::string UserConfigDirectory();

// The folder of the shipped resources: the one set by SetResourceDirectory, else the first
// "resources" folder holding "PrivateData.plist" found in the program's folder or up to three
// folders above it; empty when there is none.
std::string ResourceDirectory();
// Sets the resource folder (the application at start-up, tests); an empty text restores the search.
void SetResourceDirectory(const std::string& folder);

}  // namespace brelvox::foundation
