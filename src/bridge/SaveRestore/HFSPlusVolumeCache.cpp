#include "bridge/SaveRestore/HFSPlusVolumeCache.h"

#include "engine/HFSPlusLib/HFSPlusVolume.h"

namespace SaveRestoreResult {

HFSPlusVolumeCache& HFSPlusVolumeCache::Instance() {
    // Never destroyed: no static destructor may free a volume under a thread still reading through it.
    static HFSPlusVolumeCache* cache = new HFSPlusVolumeCache();
    return *cache;
}

HFSPlusVolumeCache::~HFSPlusVolumeCache() = default;

CHFSPlusVolume* HFSPlusVolumeCache::Put(const void* root, std::unique_ptr<CHFSPlusVolume> volume) {
    std::lock_guard lock(m_mutex);
    auto& slot = m_volumes[root];
    slot = std::move(volume);
    return slot.get();
}

CHFSPlusVolume* HFSPlusVolumeCache::Find(const void* root) {
    std::lock_guard lock(m_mutex);
    auto it = m_volumes.find(root);
    return it == m_volumes.end() ? nullptr : it->second.get();
}

void HFSPlusVolumeCache::Clear() {
    std::lock_guard lock(m_mutex);
    m_volumes.clear();
}

size_t HFSPlusVolumeCache::Size() {
    std::lock_guard lock(m_mutex);
    return m_volumes.size();
}

}  // namespace SaveRestoreResult
