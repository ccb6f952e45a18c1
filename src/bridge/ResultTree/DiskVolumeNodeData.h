// One row of the device list: a disk, a volume or a disk image, made from a device-model record.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Utilities/DiskVolumeData.h"

class DiskVolumeNodeData {
public:
    using Ptr = std::shared_ptr<DiskVolumeNodeData>;
    using Rows = std::vector<Ptr>;

    // Copies the record's fields (a null record counts as an empty one). An empty name shows the
    // localised "DEVICE_NAME_UNTITILED", a name that is not valid UTF-8 "Unknown".
    explicit DiskVolumeNodeData(const _DiskVolumeData* record);

    const std::string& name() const { return m_name; }
    // The disk holding the row (a disk row: its own name); set by the device page.
    const std::string& parentName() const { return m_parentName; }
    void setParentName(std::string name) { m_parentName = std::move(name); }
    u64 capacity() const { return m_capacity; }
    int diskIndex() const { return m_diskIndex; }
    int volumeIndex() const { return m_volumeIndex; }
    int fileSystem() const { return m_fileSystem; }
    int isDmg() const { return m_isDmg; }
    int isEdi() const { return m_isEdi; }
    int isUSB() const { return m_isUSB; }
    int isSSD() const { return m_isSSD; }
    int isAppleDmg() const { return m_isAppleDmg; }
    int isSystemVolume() const { return m_isSystemVolume; }
    void setIsSystemVolume(int flag) { m_isSystemVolume = flag; }
    int beCanOpen() const { return m_beCanOpen; }
    // "/dev/" + the kernel name; an image's own file path; empty when the record named none.
    const std::string& diskPath() const { return m_diskPath; }

    // The volume rows of a disk row; null for a volume row and for a disk without volumes.
    const Rows* children() const { return m_children ? &*m_children : nullptr; }
    // Drops the old rows, then takes rows as the children.
    void setSubNode(Rows rows);

private:
    std::string m_name;
    std::string m_parentName;
    u64 m_capacity = 0;
    int m_diskIndex = -1;
    int m_volumeIndex = -1;
    int m_fileSystem = -1;
    int m_isDmg = 0;
    int m_isEdi = 0;
    int m_isUSB = 0;
    int m_isSSD = 0;
    int m_isSystemVolume = 0;
    int m_isAppleDmg = 0;
    std::optional<Rows> m_children;
    int m_beCanOpen = 1;
    std::string m_diskPath;
};
