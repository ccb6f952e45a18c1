// Linked into every bridge test program: each test sees private settings and the shipped resources of
// this tree.
#include "support/PrivateSettings.h"

namespace {

[[maybe_unused]] testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new testsupport::PrivateSettingsEnvironment);

}  // namespace
