// The device page's rows as an outline shows them: the disks (DiskVolumeNodeData rows) at the top,
// their volumes below, read in place through the kit's adapter; the "Name" column shows the name.
#pragma once

#include <string>
#include <vector>

#include "bridge/ResultTree/DiskVolumeNodeData.h"
#include "ui/kit/OutlineView.h"

namespace browsertest {

// A disk row named name with a volume row for each of volumes.
inline DiskVolumeNodeData::Ptr DiskRow(const std::string& name, const std::vector<std::string>& volumes) {
    _DiskVolumeData record;
    record.name = name;
    auto disk = std::make_shared<DiskVolumeNodeData>(&record);
    DiskVolumeNodeData::Rows children;
    for (const std::string& v : volumes) {
        _DiskVolumeData volume;
        volume.name = v;
        children.push_back(std::make_shared<DiskVolumeNodeData>(&volume));
    }
    disk->setSubNode(std::move(children));
    return disk;
}

class DeviceRows : public kit::OutlineDataSource {
public:
    explicit DeviceRows(DiskVolumeNodeData::Rows rows) : rows(std::move(rows)) {}

    static DiskVolumeNodeData* of(kit::Item item) { return static_cast<DiskVolumeNodeData*>(item); }
    const DiskVolumeNodeData::Rows& childrenOf(kit::Item item) const {
        static const DiskVolumeNodeData::Rows none;
        if (!item) return rows;
        return of(item)->children() ? *of(item)->children() : none;
    }

    int numberOfChildrenOfItem(kit::OutlineView*, kit::Item item) override { return int(childrenOf(item).size()); }
    kit::Item child(kit::OutlineView*, int index, kit::Item item) override {
        return childrenOf(item)[size_t(index)].get();
    }
    bool isItemExpandable(kit::OutlineView*, kit::Item item) override { return !childrenOf(item).empty(); }
    QVariant objectValue(kit::OutlineView*, const kit::TableColumn&, kit::Item item) override {
        return QString::fromStdString(of(item)->name());
    }

    DiskVolumeNodeData::Rows rows;
};

}  // namespace browsertest
