#include "engine/APFS/APFSObject.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "engine/APFS/APFSLayout.h"
#include "engine/Common/DebugChannel.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace apfs {

namespace {

// Larger sectors are not read (a hostile or broken device must not size an allocation).
constexpr u32 kMaxSectorSize = 1u << 20;
constexpr size_t kTraceBytes = 2000;

}  // namespace

bool ReadDeviceBytes(IStorageDevice* device, u64 byteOffset, u8* out, size_t length) {
    if (!device || !out) return false;
    const u32 sectorSize = device->GetSectorSize();
    if (sectorSize == 0 || sectorSize > kMaxSectorSize) return false;
    if (length == 0) return true;
    u64 end = 0;
    if (__builtin_add_overflow(byteOffset, u64(length), &end)) return false;
    const u64 first = byteOffset / sectorSize;
    const u64 last = (end - 1) / sectorSize;
    const u64 count = last - first + 1;
    if (first > u64(INT64_MAX) || count > (u64(1) << 30) / sectorSize + 2) return false;
    std::vector<u8> bounce(count * sectorSize);
    if (!device->ReadSector(bounce.data(), i64(first), i64(count))) return false;
    std::memcpy(out, bounce.data() + (byteOffset - first * sectorSize), length);
    return true;
}

bool ReadContainerBlock(IStorageDevice* device, u64 startSector, u64 block, u8* out) {
    if (!device) return false;
    u64 base = 0;
    u64 offset = 0;
    u64 byte = 0;
    if (__builtin_mul_overflow(startSector, u64(device->GetSectorSize()), &base) ||
        __builtin_mul_overflow(block, u64(kBlockSize), &offset) || __builtin_add_overflow(base, offset, &byte))
        return false;
    return ReadDeviceBytes(device, byte, out, kBlockSize);
}

std::string FieldText(ByteReader bytes, size_t offset, size_t max) {
    std::string text;
    for (size_t i = 0; i < max; ++i) {
        const auto c = bytes.U8(offset + i);
        if (!c || *c == 0) break;
        text.push_back(static_cast<char>(*c));
    }
    return text;
}

CTraceLog::~CTraceLog() {
    if (m_file) std::fclose(m_file);
}

void CTraceLog::Write(const char* format, va_list args) {
    if (!format) return;
    char text[2048] = {};
    std::vsnprintf(text, kTraceBytes + 1, format, args);
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!m_tried) {
        m_tried = true;
        // O_NOFOLLOW: a link planted at the path is never followed; O_NONBLOCK: a planted FIFO does
        // not hang the process. Only a regular file is written.
        const int fd =
            ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) == 0) {
            m_file = ::fdopen(fd, "w");
            if (!m_file) ::close(fd);
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    const size_t length = std::strlen(text);
    if (m_file) {
        std::fwrite(text, 1, length, m_file);
        std::fflush(m_file);
    }
    EngineDebug("%s", text);
}

}  // namespace apfs

void TTRACE(const char* format, ...) {
    static apfs::CTraceLog log("/tmp/APFS.log");
    va_list args;
    va_start(args, format);
    log.Write(format, args);
    va_end(args);
}
