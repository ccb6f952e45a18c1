// Where settings and shipped resources live: settings in $XDG_CONFIG_HOME/Brelvox (by default
// ~/.config/Brelvox), resources in the "resources" folder shipped with the program.
#pragma once

#include <string>

namespace brelvox::foundation {

// The per-user settings folder (not created here). Read from the environment on every call.
std::string UserConfigDirectory();

// The folder of the shipped resources, the first of: the one set by SetResourceDirectory; the one
// named by the environment variable BRELVOX_RESOURCES; a "resources" folder holding
// "PrivateData.plist" in the program's folder or up to three folders above it; the installed folder
// (<prefix>/share/brelvox/resources); the resources of the source tree the program was built from.
// Empty when there is none.
std::string ResourceDirectory();
// Sets the resource folder (the application at start-up, tests); an empty text restores the search.
void SetResourceDirectory(const std::string& folder);

}  // namespace brelvox::foundation
