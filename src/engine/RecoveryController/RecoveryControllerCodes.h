// Result codes of the recovery controllers.
#pragma once

#include "engine/Common/ResultCode.h"

namespace controllercode {

constexpr u8 kModule = result::kModuleRecoveryController;
// Quick scan.
constexpr u64 kQuickBadArguments = result::Make(kModule, 0x0038, 1);
constexpr u64 kQuickWholeDisk = result::Make(kModule, 0x0043, 0x404);
constexpr u64 kQuickNoBuilder = result::Make(kModule, 0x0048, 4);
constexpr u64 kQuickBuilderRefused = result::Make(kModule, 0x004b, 1);
constexpr u64 kQuickNoSearcher = result::Make(kModule, 0x0057, 0x401);
// Deep scan.
constexpr u64 kDeepBadArguments = result::Make(kModule, 0x0045, 0x403);
constexpr u64 kDeepNoBuilder = result::Make(kModule, 0x0055, 4);
constexpr u64 kDeepBuilderRefused = result::Make(kModule, 0x0058, 1);
constexpr u64 kDeepNoSearcher = result::Make(kModule, 0x008e, 0x402);
constexpr u64 kPassBadArguments = result::Make(kModule, 0x00f8, 5);
constexpr u64 kPassFirstAfterLast = result::Make(kModule, 0x00fb, 0x403);

}  // namespace controllercode
