// A disk image as a USB disk of a fake kernel tree, optionally with one partition, for tests that scan
// through the device model as the windows do.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Device/KXUIDeviceData.h"
#include "engine/Common/Types.h"
#include "support/FakeKernelTree.h"

namespace testsupport {

// A USB disk "sdb" whose node holds image (padded with zeros to minBytes); with a partition, "sdb1"
// holds the sectors [start, start + sectors) of image.
struct UsbStick {
    struct Partition {
        u64 start = 0;
        u64 sectors = 0;
        u32 major = 8;
        u32 minor = 17;
        std::vector<std::string> udev{};
    };

    UsbStick(const std::filesystem::path& root, const std::filesystem::path& image, std::optional<Partition> partition,
             u64 minBytes = 0);

    KXUIDeviceData::Config Devices() const;

    FakeKernelTree tree;
};

}  // namespace testsupport
