#include "support/MemoryDevice.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "engine/Common/ResultCode.h"

namespace testsupport {

MemoryDevice::MemoryDevice(std::vector<u8> bytes, u32 sectorSize, u32 type)
    : m_bytes(std::move(bytes)), m_sectorSize(sectorSize ? sectorSize : 512), m_type(type) {}

MemoryDevice::MemoryDevice(i64 sectors, u32 sectorSize, u32 type)
    : MemoryDevice(std::vector<u8>(static_cast<size_t>(sectors) * (sectorSize ? sectorSize : 512)), sectorSize, type) {}

std::unique_ptr<MemoryDevice> MemoryDevice::FromFile(const std::filesystem::path& path, u32 sectorSize, u32 type) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::vector<u8> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return std::make_unique<MemoryDevice>(std::move(bytes), sectorSize, type);
}

MemoryDevice::~MemoryDevice() {
    delete m_data;
}

void MemoryDevice::SetPrivateData(IStorageDeviceData* data) {
    if (data == m_data) return;
    delete m_data;
    m_data = data;
}

void MemoryDevice::SetFailHook(std::function<bool(i64, i64)> hook) {
    std::lock_guard<std::mutex> hold(m_hookMutex);
    m_failHook = std::move(hook);
}

int MemoryDevice::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    ++m_reads;
    m_lastError = 0;
    if (!buffer || firstSector < 0 || sectorCount <= 0 || firstSector > GetTotalSectors() - sectorCount) {
        m_lastError = result::Make(result::kModuleStorage, 1, result::kKindBadArgument);
        return 0;
    }
    if (!m_failing.empty()) {
        for (i64 s = firstSector; s < firstSector + sectorCount; ++s) {
            if (m_failing.count(s)) {
                m_lastError = result::Make(result::kModuleStorage, 2, result::kKindSystemRefused);
                return 0;
            }
        }
    }
    {
        std::lock_guard<std::mutex> hold(m_hookMutex);
        if (m_failHook && m_failHook(firstSector, sectorCount)) {
            m_lastError = result::Make(result::kModuleStorage, 3, result::kKindSystemRefused);
            return 0;
        }
    }
    std::memcpy(buffer, m_bytes.data() + firstSector * m_sectorSize, static_cast<size_t>(sectorCount) * m_sectorSize);
    return 1;
}

void MemoryDevice::Put(u64 offset, const void* data, size_t length) {
    if (offset > m_bytes.size() || length > m_bytes.size() - offset) throw std::out_of_range("MemoryDevice::Put");
    std::memcpy(m_bytes.data() + offset, data, length);
}

}  // namespace testsupport
