// Rules shared by the whole APFS search: the plausibility test of an object header, how a block of a
// container is read from a device, and the diagnostic trace.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

#include "engine/APFS/APFSLayout.h"
#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"

class IStorageDevice;

namespace apfs {

// A block is plausible when its type and subtype are at most 31 and its object identifier is not 0.
// No checksum is ever verified. Inline: the deep scan asks it of every block of the device.
inline bool IsPlausibleObject(ByteReader block) {
    if (block.size() >= obj::kHeaderSize) {
        // Type and subtype in one read (most blocks are file data and fail here): each is at most 31
        // when none of its bits above the fifth is set.
        static_assert(obj::kSubtype == obj::kType + 4 && obj::kMaxType == 31 && obj::kMaxSubtype == 31);
        constexpr u64 kAbove31 = 0x0000FFE00000FFE0ULL;
        if ((block.Le64(obj::kType).value_or(kAbove31) & kAbove31) != 0) return false;
        return block.Le64(obj::kOid).value_or(0) != 0;
    }
    const auto oid = block.Le64(obj::kOid);
    if (!oid || *oid == 0) return false;
    const auto type = block.Le16(obj::kType);
    const auto subtype = block.Le16(obj::kSubtype);
    return type && subtype && *type <= obj::kMaxType && *subtype <= obj::kMaxSubtype;
}

// Reads the 4096 bytes of container block `block` (container superblock at device sector
// startSector) into out, by bytes: any sector size works, a block may start inside a sector. False
// when the address overflows or the device refuses the read; out is then left as it was.
bool ReadContainerBlock(IStorageDevice* device, u64 startSector, u64 block, u8* out);

// The same for a byte offset of the device and any length.
bool ReadDeviceBytes(IStorageDevice* device, u64 byteOffset, u8* out, size_t length);

// The bytes of a name field up to its first zero byte, at most `max` bytes.
std::string FieldText(ByteReader bytes, size_t offset, size_t max);

// An append-only trace file: opened once, truncated, never through a link planted at its path.
class CTraceLog {
public:
    explicit CTraceLog(std::string path) : m_path(std::move(path)) {}
    ~CTraceLog();
    CTraceLog(const CTraceLog&) = delete;
    CTraceLog& operator=(const CTraceLog&) = delete;

    // Formats at most 2000 bytes, writes them to the file (opened at the first call) and flushes,
    // and sends the same text to the debug channel; one line at a time from any thread.
    void Write(const char* format, va_list args);
    bool IsOpen() const { return m_file != nullptr; }

private:
    std::mutex m_mutex;
    std::string m_path;
    std::FILE* m_file = nullptr;
    bool m_tried = false;
};

}  // namespace apfs

// A diagnostic trace (a format and its values) into "/tmp/APFS.log" and the debug channel. No engine
// path calls it; it is there for whoever debugs a container.
void TTRACE(const char* format, ...) __attribute__((format(__printf__, 1, 2)));
