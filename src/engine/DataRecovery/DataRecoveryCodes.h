// Result codes of the data-recovery object.
#pragma once

#include "engine/Common/ResultCode.h"

namespace recoverycode {

constexpr u8 kModule = result::kModuleDataRecovery;
constexpr u64 kNoSearcherOrDevice = result::Make(kModule, 0x0045, 5);
constexpr u64 kNoPartition = result::Make(kModule, 0x004B, 0xD01);
constexpr u64 kNoPartitionOnRequery = result::Make(kModule, 0x0052, 0xD01);
constexpr u64 kNoDeviceForSaved = result::Make(kModule, 0x006E, 5);
constexpr u64 kNullPath = result::Make(kModule, 0x0102, 5);
constexpr u64 kCannotCreateEmpty = result::Make(kModule, 0x010B, 0xF);
constexpr u64 kCreatedEmpty = result::Make(kModule, 0x010F, 0xD02);
constexpr u64 kSizeForCompressed = result::Make(kModule, 0x0115, 0xF);
constexpr u64 kDecompressFailed = result::Make(kModule, 0x0121, 1);
constexpr u64 kCannotOpenDestination = result::Make(kModule, 0x0131, 0xF);
// Reported in a progress record while the copy waits for the caller (pause, free space, resume).
constexpr u64 kWriteWait = result::Make(kModule, 0x015F, 0xD03);
// Returned: a chunk could not be written and no caller could resolve it.
constexpr u64 kWriteGaveUp = result::Make(kModule, 0x0160, 0xD03);
// Returned: the destination could not be given its length or closed cleanly.
constexpr u64 kCannotFinishDestination = result::Make(kModule, 0x0162, 0xF);

}  // namespace recoverycode
