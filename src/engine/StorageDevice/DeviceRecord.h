// Reaching the record inside a device's private data (disk, partition, volume, EDI or DMG holder).
#pragma once

#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/StorageDeviceCodes.h"

namespace device_record {

// The record of a holder of the given kind, or null when data is null, of another kind or holds none.
template <class Holder, class Record>
Record* Peek(IStorageDeviceData* data, Record* (Holder::*get)()) {
    auto* holder = dynamic_cast<Holder*>(data);
    return holder ? (holder->*get)() : nullptr;
}

// As Peek, but a missing data object, a holder of another kind and a missing record each set their own
// last error (0 when the record is there).
template <class Holder, class Record>
Record* Get(IStorageDeviceData* data, Record* (Holder::*get)(), const storage_codes::RecordCodes& codes,
            u64* lastError) {
    *lastError = 0;
    if (!data) {
        *lastError = codes.noPrivateData;
        return nullptr;
    }
    auto* holder = dynamic_cast<Holder*>(data);
    if (!holder) {
        *lastError = codes.wrongDataKind;
        return nullptr;
    }
    Record* record = (holder->*get)();
    if (!record) *lastError = codes.noRecord;
    return record;
}

}  // namespace device_record
