#include "engine/RAWSearch/Util/BufferStorageDevice.h"

#include <algorithm>
#include <cstring>

int CBufferStorageDevice::Close() {
    m_ring.reset();
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
    // The held blocks, the incoming one and enough free ones after it for the spare bytes.
    m_slots = blockCount + 1 + static_cast<u32>((kSpareBytes + BlockBytes() - 1) / BlockBytes());
    m_held = 0;
    m_incoming = 0;
    // Not value-initialised: the kernel hands out the untouched pages only when a block lands there.
    const size_t bytes = BlockBytes() * (size_t{m_slots} + 1) + kSpareBytes;
    m_ring.reset(new unsigned char[bytes]);
    memset(m_ring.get(), 0, BlockBytes());  // the lead block: zeros before the first block
    memset(SlotData(1), 0, std::min<size_t>(kSpareBytes, BlockBytes() * (m_slots - 1)));
    memset(m_ring.get() + bytes - kSpareBytes, 0, kSpareBytes);
    m_initialised = true;
    return true;
}

void CBufferStorageDevice::AddBlockToBuffer(const char* block) {
    if (!m_initialised || block == nullptr) return;
    memcpy(IncomingBlock(), block, BlockBytes());
    AddIncomingBlock();
}

void CBufferStorageDevice::AddIncomingBlock() {
    if (!m_initialised) return;
    if (m_held < m_capacity) {
        m_held += m_sectorsPerBlock;
    } else {
        m_startSector += m_sectorsPerBlock;
    }
    const u32 added = m_incoming;
    m_incoming = (m_incoming + 1) % m_slots;
    // The incoming block's neighbours: the block just added before it, zeros after it (in the free
    // slots; past the last slot lies the spare area, which nothing writes).
    if (m_incoming == 0) memcpy(m_ring.get(), SlotData(added), BlockBytes());
    const size_t freeBytes = BlockBytes() * (m_slots - 1 - m_incoming);
    memset(SlotData(m_incoming + 1), 0, std::min<size_t>(kSpareBytes, freeBytes));
}

int CBufferStorageDevice::ReadSector(void* out, i64 sector, i64 count) {
    if (!m_initialised || out == nullptr || count < 0) return 0;
    if (count == 0) return 1;
    const i64 start = static_cast<i64>(m_startSector);
    const i64 held = static_cast<i64>(m_held);
    if (sector >= start && count <= held && sector - start <= held - count) {
        // The held sectors end just before the incoming slot.
        const u64 ringSectors = u64{m_slots} * m_sectorsPerBlock;
        const u64 oldest = (u64{m_incoming} * m_sectorsPerBlock + ringSectors - m_held) % ringSectors;
        u64 slot = (oldest + static_cast<u64>(sector - start)) % ringSectors;
        auto* dst = static_cast<unsigned char*>(out);
        u64 left = static_cast<u64>(count);
        while (left > 0) {
            const u64 n = std::min<u64>(left, ringSectors - slot);
            memcpy(dst, SlotData(0) + slot * m_sectorSize, n * m_sectorSize);
            dst += n * m_sectorSize;
            left -= n;
            slot = 0;
        }
        return 1;
    }
    if (m_device == nullptr) return 0;
    return m_device->ReadSector(out, sector, count);
}
