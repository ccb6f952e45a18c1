// Result codes of device enumeration (module 0x03).
#pragma once

#include "engine/Common/ResultCode.h"

namespace enum_codes {

using result::Make;
constexpr u8 kModule = result::kModuleEnumDevice;
constexpr u32 kKindNotReady = 2;
constexpr u32 kKindArrayTooSmall = 9;

constexpr u64 kInitNoDisk = Make(kModule, 0x00A1, result::kKindSystemRefused);
constexpr u64 kUninitNotInitialised = Make(kModule, 0x00CE, kKindNotReady);
constexpr u64 kDisksNotInitialised = Make(kModule, 0x00F2, kKindNotReady);
constexpr u64 kPartitionsNotInitialised = Make(kModule, 0x0125, kKindNotReady);
constexpr u64 kVolumesNotInitialised = Make(kModule, 0x014F, kKindNotReady);
constexpr u64 kPartitionsNoDisk = Make(kModule, 0x012C, result::kKindMissingObject);
constexpr u64 kVolumesNoDisk = Make(kModule, 0x0156, result::kKindMissingObject);
constexpr u64 kUnknownDisk = Make(kModule, 0x01E4, result::kKindBadArgument);
constexpr u64 kDiskArrayTooSmall = Make(kModule, 0x0104, kKindArrayTooSmall);
constexpr u64 kPartitionArrayTooSmall = Make(kModule, 0x01F7, kKindArrayTooSmall);
constexpr u64 kVolumeArrayTooSmall = Make(kModule, 0x0173, kKindArrayTooSmall);
constexpr u64 kPartitionReaderForPartitions = Make(kModule, 0x0056, kKindNotReady);
constexpr u64 kPartitionReaderForVolumes = Make(kModule, 0x040F, kKindNotReady);
constexpr u64 kNoPartitionDevice = Make(kModule, 0x00EB, kKindNotReady);
constexpr u64 kNoPartitionHolder = Make(kModule, 0x0106, kKindNotReady);
constexpr u64 kPartitionRecordNoDisk = Make(kModule, 0x0024, result::kKindMissingObject);
constexpr u64 kPartitionRecordNoDiskData = Make(kModule, 0x002C, result::kKindMissingObject);
constexpr u64 kPartitionRecordNotDiskData = Make(kModule, 0x0034, result::kKindMissingObject);
constexpr u64 kPartitionRecordNoDiskRecord = Make(kModule, 0x003C, result::kKindMissingObject);
constexpr u64 kConvertNotAPartition = Make(kModule, 0x0046, result::kKindBadArgument);
constexpr u64 kConvertNoPrivateData = Make(kModule, 0x005D, result::kKindMissingObject);
constexpr u64 kConvertNotPartitionData = Make(kModule, 0x0065, result::kKindMissingObject);
constexpr u64 kConvertNoPartitionRecord = Make(kModule, 0x006D, result::kKindMissingObject);
constexpr u64 kConvertNoVirtualVolume = Make(kModule, 0x0055, kKindNotReady);
constexpr u64 kConvertNoVolumeRecord = Make(kModule, 0x0069, kKindNotReady);
constexpr u64 kConvertNoVolumeHolder = Make(kModule, 0x0071, kKindNotReady);

}  // namespace enum_codes
