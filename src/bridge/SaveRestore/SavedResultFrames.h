// Frames 1 and 2 of a saved scan result (the kind of scan and the scanned device) and the writer of
// frame 3 (the partition roots with their partition records and node trees). RestoreScanSink reads
// frame 3 back.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Utilities/DiskVolumeData.h"
#include "engine/Common/Types.h"
#include "engine/FileArchive/IRSData.h"

class IFilesystemNode;
class CSearchedPartitionInfo;

namespace saved_result {

struct SavedScanKind {
    u32 controllerType = 3;  // 0 deleted, 1 complete, 2 partition, 3 none
    u32 deep = 0;
};

// The scanned device as frame 2 stores it.
struct SavedDevice {
    u64 capacity = 0;
    i32 diskIndex = -1;
    i32 volumeIndex = -1;
    i32 fileSystem = -1;
    std::string name;
    u32 isAppleDmg = 0;
    std::optional<std::vector<u8>> dmgInfo;  // exactly 2088 bytes when present
    u32 isEdi = 0;
    std::optional<std::vector<u8>> ediInfo;  // exactly 1192 bytes when present

    static SavedDevice From(const _DiskVolumeData& data);
};

// One partition root to save: the root and its data-recovery object's partition records (maybe none).
struct SavedRoot {
    IFilesystemNode* root = nullptr;
    std::vector<CSearchedPartitionInfo*> partitions;
};

// Each writes its whole frame; a failed write throws the archive's exception.
void WriteScanKind(IRSData& archive, const SavedScanKind& kind);
void WriteDevice(IRSData& archive, const SavedDevice& device);
// Writes frame 3. step runs after each root and node; when continued answers false the frame stays
// incomplete and the answer is false (the file must then not be kept).
bool WriteNodeTrees(IRSData& archive, const std::vector<SavedRoot>& roots, const std::function<bool()>& continued,
                    const std::function<void()>& step);

// The file header: it must pass its checks (signature, version, checksum) and hold a status of 1 to 4,
// else CSavedResultError with code 3.
void ReadSavedHeader(IRSData& archive);
// Each reads its whole frame; a missing or bad frame throws CSavedResultError (code 4 for frame 1, 5 for
// frame 2) naming the field and its file offset.
SavedScanKind ReadScanKind(IRSData& archive);
SavedDevice ReadDevice(IRSData& archive);

// Opens a frame for reading; a missing frame throws CSavedResultError with the given code.
void OpenSavedFrame(IRSData& archive, const tagGUIDSIGN& tag, u32 code, const char* name);

}  // namespace saved_result
