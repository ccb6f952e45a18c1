#include "engine/RecoveryController/SourceFlush.h"

#include "engine/StorageDevice/PartitionDevice.h"
#include "engine/StorageDevice/RawNodeDevice.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "platform/disks/FileSystemFlush.h"

std::string SourceNodeOf(IStorageDevice* device) {
    // Windows and caches wrap one device each; a few steps reach the node.
    for (int depth = 0; device && depth < 8; ++depth) {
        if (auto* node = dynamic_cast<CRawNodeDevice*>(device)) return node->GetDevicePath();
        if (auto* window = dynamic_cast<CPartitionWindowDevice*>(device))
            device = window->GetParent();
        else if (auto* cache = dynamic_cast<CStorageDeviceWithCache*>(device))
            device = cache->GetWrappedDevice();
        else
            return {};
    }
    return {};
}

int FlushMountedFileSystems(IStorageDevice* device) {
    const std::string node = SourceNodeOf(device);
    return node.empty() ? 0 : brelvox::disks::FlushFileSystemsOn(node);
}
