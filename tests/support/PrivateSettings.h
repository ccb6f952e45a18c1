// A test environment in which every test of a program sees private settings (a temporary
// XDG_CONFIG_HOME) and the shipped resources of this source tree.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "support/TempDir.h"

namespace testsupport {

class PrivateSettingsEnvironment : public testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;

private:
    std::unique_ptr<TempDir> m_settings;
};

}  // namespace testsupport
