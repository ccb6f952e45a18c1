#include "engine/HFSPlusSearch/HFSPlusPrivateData.h"

#include "engine/HFSPlusLib/HFSPlusVolume.h"

void CHFSPlusPrivateData::Release() {
    delete m_volume;
    m_volume = nullptr;
}
