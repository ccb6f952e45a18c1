// Every test of this program sees private settings and the shipped resources of this tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "platform/foundation/ConfigPaths.h"
#include "support/TempDir.h"

namespace {

class ResultTreeEnvironment : public testing::Environment {
public:
    void SetUp() override {
        m_settings = std::make_unique<testsupport::TempDir>();
        setenv("XDG_CONFIG_HOME", m_settings->str().c_str(), 1);
        brelvox::foundation::SetResourceDirectory(std::string(BRELVOX_SOURCE_DIR) + "/resources");
    }
    void TearDown() override { m_settings.reset(); }

private:
    std::unique_ptr<testsupport::TempDir> m_settings;
};

[[maybe_unused]] testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new ResultTreeEnvironment);

}  // namespace
