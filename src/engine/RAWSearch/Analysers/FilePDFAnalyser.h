// Sizes a PDF (or an Illustrator PostScript file) from the device: used for the files the streaming
// PDF analyser gave up (too long, evicted, or open at the end of the search).
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

enum : RAW_FILE_TYPE {
    RAW_TYPE_AI = 5,
    RAW_TYPE_PDF = 50,
};

class FilePDFAnalyser : public IRawFileAnalyser {
public:
    FilePDFAnalyser() : IRawFileAnalyser(RAW_TYPE_PDF) {}

    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // The walk of GetRawFileSize: an Illustrator header in the first 1024 bytes types the file AI; the
    // file ends at the next "%PDF-" sector, or 7 bytes after "%%EOF" in a sector that ends in zeros.
    bool GetRawFileSizeEx(CRawFileInfo& info, IStorageDevice* device);
};

// True when the bytes begin "%!PS-Adobe" and, within the first `window` of them, hold
// "Adobe Illustrator" but not " EPSF-".
bool IsIllustratorPostScript(const unsigned char* bytes, int window);
