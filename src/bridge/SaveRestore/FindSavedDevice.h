// Finding the device a loaded scan result was made from: the image of an image result, else the
// device at the stored indexes when its name, file system and capacity are unchanged, else the first
// disk or volume with the stored name, file system and capacity (the indexes change when devices come
// and go).
#pragma once

#include "bridge/SaveRestore/SavedResultFrames.h"

class IStorageDevice;
class KXUIDeviceData;

namespace SaveRestoreResult {

// imagePath: the image file the result is bound to (EDI and Apple images); may be null. Null when no
// device fits.
IStorageDevice* GetFromDiskVolumeData(KXUIDeviceData& model, const saved_result::SavedDevice& record,
                                      const char* imagePath);

}  // namespace SaveRestoreResult
