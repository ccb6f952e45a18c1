// The HFS+ volumes that compressed files of loaded scan results read through: one per loaded HFS+
// partition root, keyed by the root node the tree builder made for it, so that two HFS+ volumes of one
// disk (even with the same name) never share a volume. All are freed together when the scan's data is
// cleared, before the trees whose roots key them are.
#pragma once

#include <map>
#include <memory>
#include <mutex>

class CHFSPlusVolume;

namespace SaveRestoreResult {

class HFSPlusVolumeCache {
public:
    static HFSPlusVolumeCache& Instance();

    // Keeps the volume for the given root; a volume already kept for it is freed. The volume kept.
    CHFSPlusVolume* Put(const void* root, std::unique_ptr<CHFSPlusVolume> volume);
    // The volume kept for the root; null when none.
    CHFSPlusVolume* Find(const void* root);
    // Frees every volume (no node of a loaded result may read through them afterwards).
    void Clear();
    size_t Size();

private:
    HFSPlusVolumeCache() = default;
    ~HFSPlusVolumeCache();

    std::mutex m_mutex;
    std::map<const void*, std::unique_ptr<CHFSPlusVolume>> m_volumes;
};

}  // namespace SaveRestoreResult
