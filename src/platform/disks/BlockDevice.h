// The Linux block-device layer: device node names, read-only opening and geometry queries.
#pragma once

#include <cstdint>
#include <string>

namespace platform::disks {

// The device node of a kernel block-device name ("sda" -> "/dev/sda").
std::string DevicePathForKernelName(const std::string& kernelName);

// Opens path for reading only (O_RDONLY | O_CLOEXEC), whatever the caller wants: devices are never
// opened for writing. Returns the descriptor, or -1 with errno set.
int OpenReadOnly(const char* path);

// True when an open failed because the system refused access. Linux answers EACCES for device nodes
// the user may not read, and EPERM where a security module refuses; both mean "not permitted".
bool IsPermissionRefusal(int error);

// The logical sector size of a block device (BLKSSZGET). False for anything else (regular files),
// so the caller falls back to 512.
bool QuerySectorSize(int fd, std::uint32_t* sectorSize);

// The size in bytes of a block device (BLKGETSIZE64) or of a regular file (its st_size).
bool QuerySizeBytes(int fd, std::uint64_t* sizeBytes);

}  // namespace platform::disks
