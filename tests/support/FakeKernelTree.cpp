#include "support/FakeKernelTree.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Numbers(std::uint32_t major, std::uint32_t minor) {
    return std::to_string(major) + ":" + std::to_string(minor);
}

}  // namespace

FakeKernelTree::FakeKernelTree(fs::path root) : m_root(std::move(root)) {
    fs::create_directories(m_root / "sys" / "class" / "block");
    fs::create_directories(m_root / "proc" / "self");
    fs::create_directories(m_root / "udev" / "data");
    fs::create_directories(m_root / "dev");
    Write(m_root / "proc" / "self" / "mountinfo", "");
}

brelvox::disks::KernelRoots FakeKernelTree::Roots() const {
    brelvox::disks::KernelRoots roots;
    roots.sys = m_root / "sys";
    roots.proc = m_root / "proc";
    roots.udev = m_root / "udev";
    roots.dev = m_root / "dev";
    return roots;
}

void FakeKernelTree::AddDisk(const Disk& disk) {
    fs::path dir = m_root / "sys" / "class" / "block" / disk.name;
    Write(dir / "dev", Numbers(disk.major, disk.minor) + "\n");
    Write(dir / "size", std::to_string(disk.size512) + "\n");
    Write(dir / "ro", disk.readOnly ? "1\n" : "0\n");
    Write(dir / "removable", disk.removable ? "1\n" : "0\n");
    Write(dir / "queue" / "logical_block_size", std::to_string(disk.blockSize) + "\n");
    if (!disk.vendor.empty()) Write(dir / "device" / "vendor", disk.vendor + "    \n");
    if (!disk.model.empty()) Write(dir / "device" / "model", disk.model + "    \n");
    if (disk.scsiType >= 0) Write(dir / "device" / "type", std::to_string(disk.scsiType) + "\n");
    WriteUdev(disk.major, disk.minor, disk.udev);
}

void FakeKernelTree::AddPartition(const Partition& part) {
    fs::path dir = m_root / "sys" / "class" / "block" / part.disk / part.name;
    Write(dir / "dev", Numbers(part.major, part.minor) + "\n");
    Write(dir / "size", std::to_string(part.size512) + "\n");
    Write(dir / "partition", std::to_string(part.number) + "\n");
    Write(dir / "start", std::to_string(part.start512) + "\n");
    Write(dir / "ro", "0\n");
    WriteUdev(part.major, part.minor, part.udev);
}

void FakeKernelTree::AddMount(std::uint32_t major, std::uint32_t minor, const std::string& mountPoint,
                              const std::string& fsType, const std::string& root) {
    int id = m_mountId++;
    AddMountLine(std::to_string(id) + " 1 " + Numbers(major, minor) + " " + root + " " + mountPoint +
                 " rw,relatime shared:" + std::to_string(id) + " - " + fsType + " /dev/x rw");
}

void FakeKernelTree::AddMountLine(const std::string& line) {
    std::ofstream out(m_root / "proc" / "self" / "mountinfo", std::ios::app);
    out << line << "\n";
}

fs::path FakeKernelTree::Node(const std::string& name) const {
    fs::path node = m_root / "dev" / name;
    if (!fs::exists(node)) Write(node, "");
    return node;
}

fs::path FakeKernelTree::MakeNode(const std::string& name, std::uint64_t bytes) const {
    fs::path node = Node(name);
    if (truncate(node.c_str(), static_cast<off_t>(bytes)) != 0) throw std::runtime_error("truncate failed");
    return node;
}

void FakeKernelTree::WriteUdev(std::uint32_t major, std::uint32_t minor, const std::vector<std::string>& properties) {
    if (properties.empty()) return;
    std::string text = "I:12345\n";
    for (auto& p : properties) text += "E:" + p + "\n";
    text += "G:systemd\n";
    Write(m_root / "udev" / "data" / ("b" + Numbers(major, minor)), text);
}

}  // namespace testsupport
