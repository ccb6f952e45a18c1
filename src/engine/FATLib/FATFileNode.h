// The FAT file node (searcher type 32): a file-model node over the properties of one directory entry.
#pragma once

#include "engine/FATLib/FATFileProperties.h"
#include "engine/Utility/PropertiesFileNode.h"

class CFATFileNode : public CPropertiesFileNode<CFATFileProperties> {
public:
    // Takes ownership; the node's IDs follow the entry's first clusters and its metadata sector goes into
    // the upper 40 bits of the status word.
    void SetFileProperties(CFATFileProperties* properties);

    _tagSearcherType GetSearcheType() override { return SEARCHER_FAT; }
    void FilterFileNameByDot() override {
        if (m_properties) m_properties->SetFileName(CFileNode::FilterFileNameByDot(m_properties->m_name).c_str());
    }
    void UpdateFileSize(i64 size) override {
        if (m_properties) m_properties->m_size = size;
    }
    // A new node with cloned properties and a cloned run list; none when the properties cannot be cloned.
    IFileNode* Clone() override;
    // Either node may carry no properties: then there is nothing to copy.
    void AdoptPropertiesOf(CFileNode& other) override;
};
