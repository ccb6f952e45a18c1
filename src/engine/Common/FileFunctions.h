// Windows-style file functions.
#pragma once

#include "engine/Common/Types.h"

// The size of a file cut to 32 bits; 0 for null, a failed stat or an empty file. Use GetFileSize64
// for image sizes and size comparisons: files of 4 GiB and more wrap here.
u32 GetFileSize(const char* path);
// The full size of a file; 0 for null, a failed stat or an empty file.
u64 GetFileSize64(const char* path);

// Copies a file with its data, permission bits, access and modification times and extended
// attributes (access lists ride on the system.posix_acl_* attributes). The copy is written beside the
// destination and renamed over it at the end, so a failed copy leaves an existing destination as it
// was; copying a file onto itself is refused. The third argument is ignored. 0 on success, -1 on
// failure (errno tells why).
int CopyFileA(const char* from, const char* to, int unused = 0);
