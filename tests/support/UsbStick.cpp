#include "support/UsbStick.h"

#include <algorithm>
#include <fstream>

#include "support/TempDir.h"

namespace testsupport {

namespace fs = std::filesystem;

UsbStick::UsbStick(const fs::path& root, const fs::path& image, std::optional<Partition> partition, u64 minBytes)
    : tree(root) {
    const u64 bytes = std::max<u64>(fs::file_size(image), minBytes);
    tree.AddDisk({.name = "sdb",
                  .major = 8,
                  .minor = 16,
                  .size512 = bytes / 512,
                  .removable = true,
                  .vendor = "Brelvox",
                  .model = "Test Stick",
                  .udev = {"ID_BUS=usb", partition ? "ID_PART_TABLE_TYPE=dos" : "ID_BUS=usb"}});
    const fs::path disk = tree.Node("sdb");
    fs::copy_file(image, disk, fs::copy_options::overwrite_existing);
    fs::resize_file(disk, bytes);
    if (!partition) return;
    tree.AddPartition({.disk = "sdb",
                       .name = "sdb1",
                       .number = 1,
                       .major = partition->major,
                       .minor = partition->minor,
                       .start512 = partition->start,
                       .size512 = partition->sectors,
                       .udev = partition->udev});
    std::ifstream in(image, std::ios::binary);
    in.seekg(std::streamoff(partition->start * 512));
    std::string slice(partition->sectors * 512, '\0');
    in.read(slice.data(), std::streamsize(slice.size()));
    WriteFile(tree.Node("sdb1"), slice);
}

KXUIDeviceData::Config UsbStick::Devices() const {
    KXUIDeviceData::Config config;
    config.roots = tree.Roots();
    return config;
}

}  // namespace testsupport
