// The NTFS file node (searcher type 35): answers from the CNTFSFileProperties it owns; its ID and
// parent ID are master-file-table record numbers (the root folder is 5).
#pragma once

#include "engine/Common/IFileProperties.h"
#include "engine/Utility/PropertiesFileNode.h"

class CCommonFileRecordInfo;
class CNTFSFileProperties;

class CNTFSFileNode : public CPropertiesFileNode<IFileProperties> {
public:
    static constexpr u16 kCompressedBit = 0x800;

    // Takes ownership; a top-level record by default (ID 0, parent 5), the file record's sector as the
    // metadata sector, and the extents of the properties.
    void SetFileProperties(IFileProperties* properties);
    // The same for properties known to be NTFS ones (no type test).
    void SetFileProperties(CNTFSFileProperties* properties);

    u32 IsCompressed() override { return (GetAttribute() & kCompressedBit) ? 1 : 0; }
    _tagSearcherType GetSearcheType() override { return SEARCHER_NTFS; }
    void FilterFileNameByDot() override {
        if (m_properties) m_properties->SetFileName(CFileNode::FilterFileNameByDot(GetFileName()).c_str());
    }
    IFileNode* Clone() override {
        auto* copy = new CNTFSFileNode();
        copy->CopyFieldsFrom(*this, false);
        if (m_properties) {
            copy->m_properties = m_properties->Clone();
            if (!copy->m_properties) {
                copy->Release();
                return nullptr;
            }
        }
        return copy;
    }
    // A new, unopened reader of the node's compressed data; null when memory is exhausted.
    IFileReader* CreateCompressFileReader(void*) override;
    // The resident $DATA of the node's file record (and its extension records).
    int ReadResidentData(IStorageDevice& device, u8* buffer, u32 capacity, i64* length) override;

    // The deep search's record of the file (not owned).
    void SetPrivateDataofSpecifiedFileSystem(CCommonFileRecordInfo* info) { m_recordInfo = info; }
    CCommonFileRecordInfo* GetPrivateDataofSpecifiedFileSystem() const { return m_recordInfo; }
    void SetMetadataStartPosition(i64 position) { SetMetaDataSector(u64(position)); }

private:
    void Adopt(IFileProperties* properties, CNTFSFileProperties* ntfs);

    CCommonFileRecordInfo* m_recordInfo = nullptr;
};
