#include "engine/EnumDevice/ImageDeviceFactory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "engine/Common/ByteReader.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/RecordText.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"

namespace {

// The header in front of an image's information block.
namespace edi_header_layout {
constexpr size_t kMagic = 0;        // kEdiMagic
constexpr size_t kBlockLength = 4;  // u32 LE: the information block's length
}  // namespace edi_header_layout

bool IsValidSectorSize(u64 size) {
    return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

// Reads exactly n bytes at offset; false on a short read.
bool ReadExactly(int fd, void* buffer, size_t n, off_t offset) {
    auto* out = static_cast<char*>(buffer);
    while (n > 0) {
        ssize_t got = pread(fd, out, n, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        n -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

class FileCloser {
public:
    explicit FileCloser(int fd) : m_fd(fd) {}
    ~FileCloser() {
        if (m_fd >= 0) close(m_fd);
    }

private:
    int m_fd;
};

}  // namespace

int EuFillEdiFileInfo(CEDIDeviceInfoStruct* block, const char* path) {
    if (!block || !path || std::strlen(path) >= sizeof block->path) return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    FileCloser closer(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0) return -1;

    u8 header[kEdiHeaderSize];
    if (!ReadExactly(fd, header, sizeof header, 0)) return -1;
    const ByteReader headerBytes(header, sizeof header);
    if (!headerBytes.Equals(edi_header_layout::kMagic, kEdiMagic, sizeof kEdiMagic)) return -1;
    u32 length = headerBytes.Le32(edi_header_layout::kBlockLength).value_or(0);
    if (length > kEdiInfoBlockSize) length = kEdiInfoBlockSize;
    CEDIDeviceInfoStruct read{};
    if (!ReadExactly(fd, &read, length, kEdiHeaderSize)) return -1;

    // An image still being written records 0; a cut or grown file records another size.
    if (read.fileSize != static_cast<u64>(st.st_size)) return -1;
    if (!IsValidSectorSize(read.sectorSize) || read.dataOffset > read.fileSize) return -1;
    read.name[127] = '\0';
    CopyRecordText(read.path, path);
    *block = read;
    return 0;
}

IStorageDevice* CreateEdiDevice(const char* path) {
    if (!path) return nullptr;
    std::unique_ptr<IStorageDevice> device(CreateEdiDeviceImp(path));
    if (!device || !device->Open(path)) return nullptr;
    auto block = std::unique_ptr<CEDIDeviceInfoStruct>(new (std::nothrow) CEDIDeviceInfoStruct{});
    if (!block || EuFillEdiFileInfo(block.get(), path) != 0) return nullptr;
    IEDIDeviceData* holder = CreateEDIDeviceData(block.get());
    if (!holder) return nullptr;
    block.release();
    device->SetPrivateData(holder);
    return device.release();
}

IStorageDevice* CreateEdiDeviceByEdiInfo(void* block, int length, const char* path) {
    if (!block || length != static_cast<int>(kEdiInfoBlockSize)) return nullptr;
    CEDIDeviceInfoStruct saved{};
    std::memcpy(&saved, block, sizeof saved);
    saved.path[sizeof saved.path - 1] = '\0';
    saved.name[sizeof saved.name - 1] = '\0';
    std::unique_ptr<IStorageDevice> device(CreateEdiDevice(path ? path : saved.path));
    if (!device) return nullptr;
    auto* data = dynamic_cast<IEDIDeviceData*>(device->GetPrivateData());
    const CEDIDeviceInfoStruct* fresh = data ? data->GetEDIInfo() : nullptr;
    if (!fresh) return nullptr;
    bool same = fresh->sectorSize == saved.sectorSize && fresh->totalSectors == saved.totalSectors &&
                fresh->dataOffset == saved.dataOffset && fresh->fileSize == saved.fileSize &&
                fresh->creationTime == saved.creationTime && RecordText(fresh->name) == RecordText(saved.name);
    return same ? device.release() : nullptr;
}

IStorageDevice* CreateDmgDevice(const char* path, void* dmgInfo) {
    if (!path || !dmgInfo) return nullptr;
    std::unique_ptr<IStorageDevice> device(CreateDmgDeviceImp(path));
    if (!device || !device->Open(path)) return nullptr;
    auto record = std::unique_ptr<CDMGDeviceInfoStruct>(new (std::nothrow) CDMGDeviceInfoStruct{});
    if (!record) return nullptr;
    std::memcpy(record.get(), dmgInfo, sizeof *record);
    IDmgDeviceData* holder = CreateDMGDeviceData(record.get());
    if (!holder) return nullptr;
    record.release();
    device->SetPrivateData(holder);
    return device.release();
}

IStorageDevice* CreateDmgDeviceByDmgInfo(void* dmgInfo, int length, const char* /*path*/) {
    if (!dmgInfo || length <= 0) return nullptr;
    CDMGDeviceInfoStruct record{};
    std::memcpy(&record, dmgInfo, std::min<size_t>(static_cast<size_t>(length), sizeof record));
    record.path[sizeof record.path - 1] = '\0';
    record.name[sizeof record.name - 1] = '\0';
    std::unique_ptr<IStorageDevice> device(CreateDmgDevice(record.path, &record));
    if (!device) return nullptr;
    auto* data = dynamic_cast<IDmgDeviceData*>(device->GetPrivateData());
    if (!data || !data->GetDMGInfo()) return nullptr;
    return device.release();
}
