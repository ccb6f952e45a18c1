#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

#include "engine/VolumeAnalyze/VolumeLabel.h"

VolumeAnalyzerFactories& VolumeAnalyzers() {
    static VolumeAnalyzerFactories table;
    return table;
}

void CUnrecognisedVolumeAnalyze::GetLabel(char* buffer, int length) { volumelabel::Copy(buffer, length, "", 0); }
