// The NTFS file node (searcher type 35). Only what the file model, the tree builder and the file readers
// use is here so far; the NTFS search completes the class with its own properties record.
#pragma once

#include "engine/Common/IFileProperties.h"
#include "engine/Utility/PropertiesFileNode.h"

class CNTFSFileNode : public CPropertiesFileNode<IFileProperties> {
public:
    static constexpr u16 kCompressedBit = 0x800;

    // Takes ownership; a top-level record by default (ID 0, parent 5), and the extents of the properties.
    void SetFileProperties(IFileProperties* properties) {
        if (!ReplaceProperties(properties) || !properties) return;
        SetCurrentNodeID(0);
        SetParentNodeID(5);
        SetDataRunList(properties->GetDataRunList());
    }

    u32 IsCompressed() override { return (GetAttribute() & kCompressedBit) ? 1 : 0; }
    _tagSearcherType GetSearcheType() override { return SEARCHER_NTFS; }
    void FilterFileNameByDot() override {
        if (m_properties) m_properties->SetFileName(CFileNode::FilterFileNameByDot(GetFileName()).c_str());
    }
    IFileNode* Clone() override {
        auto* copy = new CNTFSFileNode();
        copy->CopyFieldsFrom(*this, false);
        if (m_properties) copy->m_properties = m_properties->Clone();
        return copy;
    }
    // A new, unopened reader of the node's compressed data; null when memory is exhausted.
    IFileReader* CreateCompressFileReader(void*) override;
};
