#include "bridge/Device/KXMakeDMG.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>
#include <vector>

#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Dispatch/WorkerRegistry.h"
#include "bridge/Recovery/ScannedDevice.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/Common/CatchExeception.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/KXReadAsyncData.h"

namespace {

constexpr auto kPausePoll = std::chrono::seconds(1);

// Copies text into a NUL-terminated field, cut where it does not fit at a UTF-8 character boundary.
void CopyText(char* field, size_t fieldBytes, const char* text) {
    std::memset(field, 0, fieldBytes);
    if (!text) return;
    size_t n = strnlen(text, fieldBytes);
    if (n == fieldBytes) {
        n = fieldBytes - 1;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(field, text, n);
}

}  // namespace

KXMakeDMG& KXMakeDMG::KXShareInstance() {
    static KXMakeDMG instance;
    return instance;
}

KXMakeDMG::KXMakeDMG() = default;

KXMakeDMG::~KXMakeDMG() {
    WaitForJob();
    KXCloseDevice();
}

int KXMakeDMG::KXStart(const std::string& devicePath, const std::string& imagePath, int disk, int volume,
                       int makeRaw) {
    if (devicePath.empty() || imagePath.empty()) return edi_code::kBadArgument;
    // One image at a time: the block and the buffer belong to the running copy.
    bool idle = false;
    if (!m_busy.compare_exchange_strong(idle, true)) {
        CatchExeception::Instance()->WriteLog("EDI image: a copy is running; %s not started\n", imagePath.c_str());
        return edi_code::kBadArgument;
    }
    auto fail = [this](int code) {
        KXCloseDevice();
        m_busy.store(false);
        return code;
    };
    if (m_worker) {
        m_worker->Join();
        m_worker.reset();
        WorkerRegistry::Instance().JoinReturned();
    }
    IStorageDevice* device = KXUIDeviceData::instance().GetStorageByDiskVolumeIndex(disk, volume);
    if (!device) return fail(edi_code::kBadArgument);
    if (imagePath.size() > sizeof m_info.path - 1) {
        CatchExeception::Instance()->WriteLog("EDI image: the path is longer than %zu bytes\n", sizeof m_info.path - 1);
        return fail(edi_code::kBadArgument);
    }
    // Nothing is ever written onto the device being copied.
    if (const std::string why = ScannedDeviceProblem(device, imagePath, devicePath); !why.empty()) {
        CatchExeception::Instance()->WriteLog("EDI image: %s refused: %s\n", imagePath.c_str(), why.c_str());
        return fail(edi_code::kCreate);
    }
    if (KXGetEdiInfo(device) != 0) return fail(edi_code::kNoRecord);
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        if (m_info.sectorSize == 0) return fail(edi_code::kNoRecord);
        CopyText(m_info.path, sizeof m_info.path, imagePath.c_str());
        m_info.dataOffset = makeRaw == 1 ? 0 : DataOffsetFor(m_info.sectorSize);
        m_info.fileSize = 0;
    }
    if (const int code = KXOpenDevice(devicePath); code != 0) return fail(code);
    m_state.store(0);
    const int code = KXMakeEdiImp(imagePath, makeRaw);
    if (code != 0) return fail(code);
    return 0;
}

int KXMakeDMG::KXGetEdiInfo(IStorageDevice* device) {
    if (!device || !device->GetPrivateData()) return -1;
    IStorageDeviceData* data = device->GetPrivateData();
    std::lock_guard<std::mutex> hold(m_mutex);
    CEDIDeviceInfoStruct info{};
    if (auto* disk = dynamic_cast<IDiskDeviceData*>(data); disk && disk->GetDiskInfo()) {
        const CCollectDiskDeviceInfoStruct* r = disk->GetDiskInfo();
        info.sectorSize = u64(std::max<i64>(r->sectorSize, 0));
        info.totalSectors = u64(std::max<i64>(r->totalSectors, 0));
        CopyText(info.name, sizeof info.name, r->name);
    } else if (auto* volume = dynamic_cast<IVolumeDeviceData*>(data); volume && volume->GetVolumeInfo()) {
        const CCollectedVolumeDeviceInfoStruct* r = volume->GetVolumeInfo();
        info.sectorSize = u64(std::max<i64>(r->sectorSize, 0));
        info.totalSectors = u64(std::max<i64>(r->totalSectors, 0));
        CopyText(info.name, sizeof info.name, r->volumeName);  // cut to 127 bytes
    } else {
        return -1;
    }
    info.creationTime = u64(std::time(nullptr));
    m_info = info;
    return 0;
}

int KXMakeDMG::KXOpenDevice(const std::string& devicePath) {
    if (devicePath.empty()) return edi_code::kBadArgument;
    KXCloseDevice();
    const int fd = ::open(devicePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return edi_code::kOpenSource;
    u64 sectorSize = 0;
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        sectorSize = m_info.sectorSize;
    }
    if (sectorSize == 0 || sectorSize > (u64(1) << 20)) {
        ::close(fd);
        return edi_code::kNoRecord;
    }
    const size_t bytes = size_t(sectorSize * kChunkSectors);
    std::shared_ptr<u8[]> buffer(new (std::nothrow) u8[bytes]);
    if (!buffer) {
        ::close(fd);
        return edi_code::kNoBuffer;
    }
    std::lock_guard<std::mutex> hold(m_mutex);
    m_device = fd;
    m_buffer = std::move(buffer);
    m_bufferBytes = bytes;
    return 0;
}

void KXMakeDMG::KXCloseDevice() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_device >= 0) ::close(m_device);
    m_device = -1;
    m_buffer.reset();
    m_bufferBytes = 0;
}

int KXMakeDMG::KXMakeEdiImp(const std::string& imagePath, int makeRaw) {
    const int fd = ::open(imagePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        CatchExeception::Instance()->WriteLog("EDI image: %s cannot be created: %s\n", imagePath.c_str(),
                                              std::strerror(errno));
        return edi_code::kCreate;
    }
    m_worker = WorkerRegistry::Instance().Start("EDI image", [this, fd, makeRaw, imagePath] {
        Job(fd, makeRaw, imagePath);
    });
    if (!m_worker) {
        ::close(fd);
        ::unlink(imagePath.c_str());
        return edi_code::kCreate;
    }
    return 0;
}

int KXMakeDMG::WriteAll(int fd, const void* data, size_t length, off_t offset) {
    const u8* at = static_cast<const u8*>(data);
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, at, length, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return edi_code::kWrite;
        at += n;
        length -= size_t(n);
        offset += n;
    }
    return 0;
}

std::vector<u8> KXMakeDMG::HeaderBytes() const {
    const CEDIDeviceInfoStruct info = Info();
    std::vector<u8> header(std::max<u64>(info.dataOffset, kEdiHeaderSize + kEdiInfoBlockSize), 0);
    std::memcpy(header.data(), kEdiMagic, sizeof kEdiMagic);
    const u32 blockSize = kEdiInfoBlockSize;  // little-endian host
    std::memcpy(header.data() + 4, &blockSize, 4);
    std::memcpy(header.data() + kEdiHeaderSize, &info, sizeof info);
    return header;
}

int KXMakeDMG::KXWriteDMgHEader2(int fd) {
    if (fd < 0) return edi_code::kBadArgument;
    const std::vector<u8> header = HeaderBytes();
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) return edi_code::kWrite;
    if (WriteAll(fd, header.data(), header.size(), at) != 0) return edi_code::kWrite;
    return ::lseek(fd, at + off_t(header.size()), SEEK_SET) < 0 ? edi_code::kWrite : 0;
}

int KXMakeDMG::KXWriteDMGHeader(FILE* stream) {
    if (!stream) return edi_code::kBadArgument;
    const std::vector<u8> header = HeaderBytes();
    return std::fwrite(header.data(), 1, header.size(), stream) == header.size() ? 0 : edi_code::kWrite;
}

int KXMakeDMG::KXSetState(int state) {
    m_state.store(state);
    return 0;
}

void KXMakeDMG::KXUpdatePrgoress(u64 doneSectors, int code) {
    std::function<void(const KXEdiProgress&)> delegate;
    KXEdiProgress progress{};
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        delegate = m_delegate;
        progress = {m_info.totalSectors, doneSectors, i32(code)};
    }
    if (!delegate) return;
    KXUIPublic::RunOnMainThread([delegate, progress] { delegate(progress); });
}

void KXMakeDMG::setKXDelegate(std::function<void(const KXEdiProgress&)> delegate) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_delegate = std::move(delegate);
}

void KXMakeDMG::WaitForJob() {
    std::shared_ptr<Worker> worker = m_worker;
    if (worker) worker->Join();
}

CEDIDeviceInfoStruct KXMakeDMG::Info() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_info;
}

// The copy: the header (EDI only), then the source in chunks of 8192 sectors, each read whole or the
// job fails; at the end the block is written again with the end offset. The file goes on any failure.
void KXMakeDMG::Job(int fd, int makeRaw, std::string imagePath) {
    const CEDIDeviceInfoStruct info = Info();
    int code = 0;
    if (makeRaw != 1) code = KXWriteDMgHEader2(fd);
    const u64 total = info.totalSectors;
    const u64 sectorSize = info.sectorSize;
    off_t at = makeRaw == 1 ? 0 : off_t(info.dataOffset);
    u64 done = 0;
    for (u64 sector = 0; code == 0 && sector < total; sector += kChunkSectors) {
        while (m_state.load() == 1) std::this_thread::sleep_for(kPausePoll);
        if (m_state.load() == 2) {
            code = edi_code::kStopped;
            break;
        }
        // The last chunk asks only for the sectors left: a device that gives fewer bytes than asked
        // anywhere fails the copy instead of leaving zeros (or a shifted image) behind.
        const u64 sectors = std::min(kChunkSectors, total - sector);
        const i64 want = i64(sectors * sectorSize);
        i64 given = 0;
        i64 got = 0;
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            if (m_device < 0 || !m_buffer) {
                code = edi_code::kRead;
                break;
            }
            // Read straight into the buffer (no copy through the shared one); a read that timed out
            // keeps the buffer, and the copy fails below.
            kxread::DirectTarget direct(m_buffer, m_bufferBytes);
            got = KXReadAsyncData(m_buffer.get(), m_device, i64(sector * sectorSize), want, &given);
            if (direct.Abandoned()) {
                got = 0;
                m_buffer.reset();
            }
            if (got == want && given == want) code = WriteAll(fd, m_buffer.get(), size_t(want), at);
        }
        if (got != want || given != want) {
            CatchExeception::Instance()->WriteLog("EDI image: the read at sector %llu gave %lld of %lld bytes\n",
                                                  static_cast<unsigned long long>(sector),
                                                  static_cast<long long>(given), static_cast<long long>(want));
            code = edi_code::kRead;
            break;
        }
        if (code != 0) break;
        at += off_t(want);
        done = sector + sectors;
        KXUpdatePrgoress(sector, code);
    }
    KXCloseDevice();
    if (code == 0 && makeRaw != 1) {
        CEDIDeviceInfoStruct final = info;
        final.fileSize = u64(at);
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_info.fileSize = final.fileSize;
        }
        code = WriteAll(fd, &final, sizeof final, kEdiHeaderSize);
    }
    if (code == 0 && ::fsync(fd) != 0) code = edi_code::kWrite;
    if (::close(fd) != 0 && code == 0) code = edi_code::kWrite;
    if (code != 0) {
        ::unlink(imagePath.c_str());
        CatchExeception::Instance()->WriteLog("EDI image: %s failed with %d; the file is removed\n", imagePath.c_str(),
                                              code);
    }
    KXUpdatePrgoress(code == 0 ? total : done, code);
    m_busy.store(false);
}
