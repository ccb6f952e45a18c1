#include "engine/NTFSLib/ResidentDataStream.h"

// File records are parsed by the NTFS search; until it is built no resident stream can be read.
int GetResidentDataRunsStream(CNTFSFileNode&, IStorageDevice&, i64*, u8*, u32) {
    return 0;
}
int GetResidentDataRunsStream(u64, IStorageDevice&, i64*, u8*, u32) {
    return 0;
}
