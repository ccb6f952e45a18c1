// The picture analysers that size a file from its first sector alone: BMP, ICO and CUR, ICNS, EMF,
// WMF and Minolta MRW. Each accepts the sector and sets the record's type and size, or refuses it.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

class FileBMPAnalyser : public IRawFileAnalyser {
public:
    FileBMPAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileICOAnalyser : public IRawFileAnalyser {
public:
    static constexpr u32 kMaxEntries = 16;
    static constexpr u64 kMaxSize = 0x100000;
    FileICOAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileICNSAnalyser : public IRawFileAnalyser {
public:
    static constexpr u64 kMaxSize = 0xA66666;
    FileICNSAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileEMFAnalyser : public IRawFileAnalyser {
public:
    FileEMFAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // " EMF" at 40: the list lookup turns other sectors away without asking.
    bool GetRequiredWord(u32& offset, u32& value) const override;
};

class FileWMFAnalyser : public IRawFileAnalyser {
public:
    FileWMFAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileMRWAnalyser : public IRawFileAnalyser {
public:
    FileMRWAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};
