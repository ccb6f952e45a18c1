// Data recovery: the copy-out of what a quick search found, as the driver makes it. A quick searcher
// (HFS+, FAT16, FAT32, exFAT or NTFS) reads a device image, and the data-recovery object made from it
// copies each found file (at most four, of up to 256 KiB each as their readers can take them) into a
// file in memory. The recorded size of a file may be anything (2^63 - 1 included): the copy ends, and a
// copy that succeeded has the size the reader could take.
//   byte 0: the file system (byte % 5: HFS+, FAT16, FAT32, exFAT, NTFS);
//   then a device image (see fuzz/support/FuzzDevice.h for its two header bytes) whose sectors fold onto
//   the input.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/Common/ResultCode.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/Utility/IFileNode.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/NodeSink.h"

namespace {

constexpr int kMaxCopies = 4;
constexpr i64 kMaxCopyBytes = 256 * 1024;

struct Kind {
    u32 fileSystem;
    IQuickFileSystemSearchController* (*make)();
};
constexpr Kind kKinds[] = {{FILE_SYSTEM_HFSPLUS, CreateHFSPlusQuickSearcher},
                           {FILE_SYSTEM_FAT16, CreateFATQuickSearcher},
                           {FILE_SYSTEM_FAT32, CreateFATQuickSearcher},
                           {FILE_SYSTEM_EXFAT, CreateEXFatQuickSearcher},
                           {FILE_SYSTEM_NTFS, CreateNTFSQuickSearcher}};

// The file in memory the copies go to, made once.
int Sink() {
    static const int fd = memfd_create("brelvox-recovery-fuzz", MFD_CLOEXEC);
    return fd;
}

struct Releaser {
    void operator()(CDataRecovery* recovery) const { recovery->Release(); }
};

}  // namespace

BRELVOX_FUZZ_TARGET(1 + fuzz::kDeviceHeaderBytes + 256 * 1024) {
    if (size < 1 || Sink() < 0) return;
    const Kind& kind = kKinds[data[0] % (sizeof kKinds / sizeof kKinds[0])];
    fuzz::DeviceInput in;
    if (!fuzz::ReadDeviceHeader(data + 1, size - 1, in)) return;
    fuzz::FuzzDevice device(in.image, in.imageSize, in.sectorSize, in.totalSectors);
    device.SetVolumeRecord(kind.fileSystem);

    fuzz::NodeSink sink;
    const auto searcher = fuzz::QuickSearch(kind.make(), device, sink);
    if (!searcher || sink.Count() == 0) return;
    std::unique_ptr<CDataRecovery, Releaser> recovery(new CDataRecovery);
    if (result::IsFailure(recovery->Initialize(searcher.get(), &device))) return;

    int copies = 0;
    for (IFileNode* node : sink.Nodes()) {
        if (copies == kMaxCopies) break;
        if (node->IsDirectory()) continue;
        IFileReader* reader = recovery->SetRecoverNode(node);
        if (reader == nullptr) continue;
        const i64 recorded = reader->GetDataSize();
        const i64 readable = reader->GetReadableSize();
        reader->Release();
        FUZZ_CHECK(readable <= recorded);
        if (readable > kMaxCopyBytes) continue;
        ++copies;
        if (ftruncate(Sink(), 0) != 0) return;
        const u64 code = recovery->RecoverToFile(Sink(), -1, "fuzz", nullptr, 0);
        struct stat st {};
        FUZZ_CHECK(fstat(Sink(), &st) == 0);
        if (result::IsFailure(code)) continue;
        // A copy holds what its reader could take, never more than the recorded size; with nothing
        // unreadable, exactly that.
        FUZZ_CHECK(st.st_size <= std::max<i64>(recorded, 0));
        if (!node->IsCompressed() && recovery->GetUnreadableChunkCount() == 0) FUZZ_CHECK(st.st_size == std::max<i64>(readable, 0));
    }
}
