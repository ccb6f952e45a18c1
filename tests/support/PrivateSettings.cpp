#include "support/PrivateSettings.h"

#include <cstdlib>
#include <string>

#include "platform/foundation/ConfigPaths.h"

namespace testsupport {

void PrivateSettingsEnvironment::SetUp() {
    m_settings = std::make_unique<TempDir>();
    setenv("XDG_CONFIG_HOME", m_settings->str().c_str(), 1);
    brelvox::foundation::SetResourceDirectory(std::string(BRELVOX_SOURCE_DIR) + "/resources");
}

void PrivateSettingsEnvironment::TearDown() {
    m_settings.reset();
}

}  // namespace testsupport
