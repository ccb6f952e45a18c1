// TrueType fonts, sized from their table directory alone: the offset table, the table records and
// every table's length rounded up to four bytes. At least half of the tables must carry a known tag.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

class FileTTFAnalyser : public IRawFileAnalyser {
public:
    FileTTFAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};
