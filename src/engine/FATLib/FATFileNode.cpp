#include "engine/FATLib/FATFileNode.h"
#include "engine/Common/DebugChannel.h"

#include <cstdio>
#include <new>

void CFATFileNode::SetFileProperties(CFATFileProperties* properties) {
    if (!ReplaceProperties(properties) || properties == nullptr) return;
    SetCurrentNodeID(static_cast<i64>(properties->m_firstCluster));
    SetParentNodeID(static_cast<i64>(properties->m_parentFirstCluster));
    SetMetaDataSector(properties->m_metadataSector);
    EngineDebug("=====%s====== Current:%llx Parent:%llx\n", properties->m_name.c_str(),
                static_cast<unsigned long long>(properties->m_firstCluster),
                static_cast<unsigned long long>(properties->m_parentFirstCluster));
}

void CFATFileNode::AdoptPropertiesOf(CFileNode& other) {
    auto* theirs = dynamic_cast<CFATFileNode*>(&other);
    if (theirs != nullptr && m_properties != nullptr && theirs->m_properties != nullptr) {
        *m_properties = *theirs->m_properties;
    }
}

IFileNode* CFATFileNode::Clone() {
    CFATFileProperties* properties = nullptr;
    if (m_properties != nullptr) {
        properties = new (std::nothrow) CFATFileProperties(*m_properties);
        if (properties == nullptr) return nullptr;
    }
    auto* copy = new (std::nothrow) CFATFileNode();
    if (copy == nullptr) {
        delete properties;
        return nullptr;
    }
    copy->CopyFieldsFrom(*this, false);
    copy->m_properties = properties;
    return copy;
}
