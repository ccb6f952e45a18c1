#include "engine/RAWSearch/Util/BufferStorageDevice.h"

#include <algorithm>
#include <cstring>

int CBufferStorageDevice::Close() {
    m_ring.clear();
    m_ring.shrink_to_fit();
    m_initialised = false;
    m_held = 0;
    return 1;
}

bool CBufferStorageDevice::InitBufferDevice(IStorageDevice* device, unsigned long long startSector,
                                            unsigned sectorSize, unsigned sectorsPerBlock, unsigned blockCount) {
    m_initialised = false;
    if (sectorSize == 0 || sectorsPerBlock == 0 || blockCount == 0) return false;
    m_device = device;
    m_startSector = startSector;
    m_sectorSize = sectorSize;
    m_sectorsPerBlock = sectorsPerBlock;
    m_blockCount = blockCount;
    m_capacity = sectorsPerBlock * blockCount;
    m_held = 0;
    m_writePosition = 0;
    m_ring.assign(size_t{m_capacity} * sectorSize, 0);
    m_initialised = true;
    return true;
}

void CBufferStorageDevice::AddBlockToBuffer(const char* block) {
    if (!m_initialised || block == nullptr) return;
    memcpy(m_ring.data() + size_t{m_writePosition} * m_sectorSize, block, size_t{m_sectorsPerBlock} * m_sectorSize);
    m_writePosition = (m_writePosition + m_sectorsPerBlock) % m_capacity;
    if (m_held < m_capacity) {
        m_held += m_sectorsPerBlock;
    } else {
        m_startSector += m_sectorsPerBlock;
    }
}

int CBufferStorageDevice::ReadSector(void* out, i64 sector, i64 count) {
    if (!m_initialised || out == nullptr || count < 0) return 0;
    if (count == 0) return 1;
    const i64 start = static_cast<i64>(m_startSector);
    const i64 held = static_cast<i64>(m_held);
    if (sector >= start && count <= held && sector - start <= held - count) {
        const u64 oldest = m_held == m_capacity ? m_writePosition : 0;
        u64 slot = (oldest + static_cast<u64>(sector - start)) % m_capacity;
        auto* dst = static_cast<unsigned char*>(out);
        u64 left = static_cast<u64>(count);
        while (left > 0) {
            const u64 n = std::min<u64>(left, m_capacity - slot);
            memcpy(dst, m_ring.data() + slot * m_sectorSize, n * m_sectorSize);
            dst += n * m_sectorSize;
            left -= n;
            slot = 0;
        }
        return 1;
    }
    if (m_device == nullptr) return 0;
    return m_device->ReadSector(out, sector, count);
}
