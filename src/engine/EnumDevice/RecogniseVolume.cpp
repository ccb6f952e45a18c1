#include "engine/EnumDevice/RecogniseVolume.h"

#include <memory>

#include "engine/EnumDevice/RecordText.h"
#include "engine/VolumeAnalyze/VolumeAnalyzeController.h"

u32 RecogniseVolume(IStorageDevice* device, char* label, std::size_t labelSize) {
    CopyRecordText(label, labelSize, "");
    std::unique_ptr<CVolumeAnalyzeController> controller(CreateVolumeAnalyzeController(device, 0));
    IVolumeAnalyze* analyzer = controller ? controller->GetVolumeAnzlyzer() : nullptr;
    if (!analyzer) return FILE_SYSTEM_UNKNOWN;
    // Labels are at most 100 bytes; the analyser terminates what it copies.
    char text[101] = {};
    analyzer->GetLabel(text, sizeof text);
    text[sizeof text - 1] = '\0';
    CopyRecordText(label, labelSize, text);
    return analyzer->GetFileSystemType();
}
