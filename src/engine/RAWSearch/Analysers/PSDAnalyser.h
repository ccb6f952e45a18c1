// PSD: the streaming analyser steps over the sections (colour mode data, image resources, layer and
// mask information) as their sectors pass, then ends the file where the image data runs into zeros;
// its fallback does the same on the device.
#pragma once

#include <memory>
#include <optional>

#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

// The walk over a PSD's sections, fed one length field at a time.
struct PsdSections {
    int read = 0;  // sections whose length was read: 3 when the image data's start is known
    i64 position = psd_layout::kColourModeData;
    u32 resourcesLength = 0;
    u32 layerLength = 0;

    bool Done() const { return read >= 3; }
    // The file offset of the next length field to read.
    i64 NextField() const { return read == 0 ? static_cast<i64>(psd_layout::kColourModeLength) : position; }
    // Takes the length read at NextField().
    void Take(u32 length);
};

class FilePSDAnalyser : public IRawFileAnalyser {
public:
    FilePSDAnalyser();
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace RawSpeed {

class PSDAnalyser : public IRawFileAnalyser {
public:
    PSDAnalyser();
    ~PSDAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FilePSDAnalyser> m_fallback;
};

class PSDRawFileInfo : public CRawFileInfo {
public:
    static constexpr i64 kMaxCovered = 1000000000;
    explicit PSDRawFileInfo(IRawFileAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    IRawFileAnalyser* m_fallback;
    PsdSections m_sections;
};

}  // namespace RawSpeed
