// The framed archive of saved scan results, read back: the header (signature, CRC, status, text), the
// frames of a saved scan found by their tags, and the records the engine restores from a frame (NTFS
// partition records, run lists, master-file-table findings). Frame sizes come from the file: no read
// may go past a frame or allocate what the frame cannot hold. The input is the archive file.
#include <memory>
#include <vector>

#include "engine/FileArchive/RSData.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSDataRunLists.h"
#include "engine/NTFSLib/NTFSFindings.h"
#include "engine/NTFSLib/SearchedNTFSPartitionInfo.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/MemoryFile.h"

namespace {

// Each restorer in turn on the open frame, as a loader takes record after record; a failure ends it.
void RestoreRecords(CRSData& archive) {
    CSearchedNTFSPartitionInfo partition;
    if (!partition.Restore(archive)) return;
    CMFTInfo table;
    if (!table.Restore(archive)) return;
    CCommonFileRecordPositionInfo position;
    if (!position.Restore(archive)) return;
    CNTFSDataRunList runs;
    if (!runs.Restore(archive)) return;
    std::unique_ptr<CCompressedDataRunList> compact(CCompressedDataRunList::Restore(&archive));
    if (compact) {
        if (IDataRunList* list = compact->Decompress()) list->Release();
    }
    std::vector<u8> rest(4096);
    archive.ReadCurFrame(rest.data(), static_cast<u32>(rest.size()));  // what is left, at most this much
}

}  // namespace

BRELVOX_FUZZ_TARGET(64 * 1024) {
    fuzz::MemoryFile file(data, size);
    if (!file.IsOpen()) return;
    try {
        CRSData archive(RS_MODE_READ);
        if (!archive.StartRS(file.Path().c_str(), 0)) return;
        archive.CheckFile();
        FILEHEADER header;
        archive.ReadFileHeader(header);
        char description[128];
        try {
            archive.GetStatus();
            archive.GetFileDescription(description, sizeof description);
        } catch (const CRSException&) {
        }
        for (const tagGUIDSIGN& tag : {_frFileSystemSearchControllerList, _frDiskDevice, _frFileSystemNode}) {
            try {
                if (!archive.OpenFrame(tag)) continue;
                RestoreRecords(archive);
                archive.CloseFrame();
            } catch (const CRSException&) {
            }
        }
        archive.EndRS();
    } catch (const CRSException&) {
    }
}
