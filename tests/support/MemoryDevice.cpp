#include "support/MemoryDevice.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

MemoryDevice::MemoryDevice(std::vector<u8> bytes, u32 sectorSize, u32 type)
    : m_bytes(std::move(bytes)), m_sectorSize(sectorSize ? sectorSize : 512), m_type(type) {}

std::unique_ptr<MemoryDevice> MemoryDevice::FromFile(const std::filesystem::path& path, u32 sectorSize, u32 type) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::vector<u8> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return std::make_unique<MemoryDevice>(std::move(bytes), sectorSize, type);
}

MemoryDevice::~MemoryDevice() { delete m_data; }

void MemoryDevice::SetPrivateData(IStorageDeviceData* data) {
    if (data != m_data) delete m_data;
    m_data = data;
}

void MemoryDevice::SetFailHook(std::function<bool(i64, i64)> hook) {
    std::lock_guard<std::mutex> hold(m_hookMutex);
    m_failHook = std::move(hook);
}

int MemoryDevice::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    ++m_reads;
    if (!buffer || firstSector < 0 || sectorCount <= 0) return 0;
    if (firstSector > GetTotalSectors() || sectorCount > GetTotalSectors() - firstSector) return 0;
    {
        std::lock_guard<std::mutex> hold(m_hookMutex);
        if (m_failHook && m_failHook(firstSector, sectorCount)) return 0;
    }
    std::memcpy(buffer, m_bytes.data() + size_t(firstSector) * m_sectorSize, size_t(sectorCount) * m_sectorSize);
    return 1;
}

}  // namespace testsupport
