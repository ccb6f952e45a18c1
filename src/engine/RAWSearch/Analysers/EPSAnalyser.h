// Encapsulated PostScript: text files ("%!PS-Adobe-") end where their data runs into zeros; binary
// files (C5 D0 D3 C6) carry their sections' offsets and lengths in the header.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace BruteForce {

class CEPSAnalyser : public IRawFileAnalyser {
public:
    CEPSAnalyser() : IRawFileAnalyser(-1) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    bool m_lastWasText = false;
};

}  // namespace BruteForce
