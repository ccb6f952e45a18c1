// The HFS+ volume a quick search opened, attached to its partition record so that compressed files
// found in it can still be read when they are copied out.
#pragma once

#include "engine/Utility/IPrivateData.h"

class CHFSPlusVolume;

class CHFSPlusPrivateData : public IPrivateData {
public:
    // Takes the volume; Release closes it.
    explicit CHFSPlusPrivateData(CHFSPlusVolume* volume) : m_volume(volume) {}
    // Leaves the volume alone: Release closes it.
    ~CHFSPlusPrivateData() override = default;
    CHFSPlusPrivateData(const CHFSPlusPrivateData&) = delete;
    CHFSPlusPrivateData& operator=(const CHFSPlusPrivateData&) = delete;

    // Deletes the volume and forgets it; the holder stays.
    void Release() override;
    CHFSPlusVolume* GetVolume() const { return m_volume; }

private:
    CHFSPlusVolume* m_volume = nullptr;
};
