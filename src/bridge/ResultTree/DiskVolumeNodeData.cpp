#include "bridge/ResultTree/DiskVolumeNodeData.h"

#include "engine/Common/TextFunctions.h"
#include "platform/foundation/Localization.h"

namespace {

std::string RowName(const std::string& name) {
    if (name.empty()) return brelvox::foundation::Localized("DEVICE_NAME_UNTITILED");
    return isValidString(name.c_str()) ? name : std::string("Unknown");
}

std::string DevicePath(const std::string& bsdName) {
    if (bsdName.empty() || bsdName.front() == '/') return bsdName;
    return "/dev/" + bsdName;
}

}  // namespace

DiskVolumeNodeData::DiskVolumeNodeData(const _DiskVolumeData* record) {
    const _DiskVolumeData empty;
    const _DiskVolumeData& r = record ? *record : empty;
    m_name = RowName(r.name);
    m_capacity = r.capacity;
    m_diskIndex = r.diskIndex;
    m_volumeIndex = r.volumeIndex;
    m_fileSystem = r.fileSystem;
    m_isDmg = static_cast<int>(r.isDmg);
    m_isEdi = static_cast<int>(r.isEdi);
    m_isAppleDmg = static_cast<int>(r.isAppleDmg);
    m_isUSB = static_cast<int>(r.isUSB);
    m_isSSD = static_cast<int>(r.isSSD);
    m_beCanOpen = static_cast<int>(r.beCanOpen);
    m_isSystemVolume = static_cast<int>(r.isSystemVolume);
    m_diskPath = DevicePath(r.bsdName);
}

void DiskVolumeNodeData::setSubNode(Rows rows) {
    m_children = std::move(rows);
}
