// Disk images as the device page opens them: the file is the input (an Apple UDIF image with its
// trailer and block tables, or any other bytes as a flat image), parsed for acceptance, then each block
// table array checked again on its own.
#include <cstring>

#include "bridge/Device/DmgImage.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/MemoryFile.h"

BRELVOX_FUZZ_TARGET(64 * 1024) {
    fuzz::MemoryFile file(data, size);
    if (!file.IsOpen()) return;
    CDMGDeviceInfoStruct record;
    std::memset(&record, 0, sizeof record);
    record.sectorSize = 512;
    if (ParseDmgFile(file.Path().c_str(), &record)) {
        FUZZ_CHECK(record.fileLength == size);
        FUZZ_CHECK(size > 512);
    }
}
