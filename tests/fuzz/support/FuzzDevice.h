// Devices made of fuzz input. A parser that reads a device reads one of these: a read-only device
// whose sectors fold onto the input (sector s reads input sector s mod n), so that a small input can
// place a structure at any sector a parser follows, however far its address; or a device laid out
// from pieces (a volume built around the input), zeros elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/StorageDevice/IStorageDevice.h"

namespace fuzz {

// What both devices below share: a read-only device of a fixed geometry, its device record, and the
// checks of a read (whole sectors inside the claimed size); the bytes come from FillSectors.
class InputDevice : public IStorageDevice {
public:
    InputDevice(u32 sectorSize, i64 totalSectors, u32 type)
        : m_sectorSize(sectorSize), m_totalSectors(totalSectors), m_type(type) {}
    ~InputDevice() override;
    InputDevice(const InputDevice&) = delete;
    InputDevice& operator=(const InputDevice&) = delete;

    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) final;
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return m_totalSectors; }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_data; }
    void SetPrivateData(IStorageDeviceData* data) override;
    u32 GetType() override { return m_type; }
    u64 GetLastError() override { return m_lastError; }

    // Records what device enumeration would have: a volume of this file-system type, or a disk.
    void SetVolumeRecord(u32 fileSystemType);
    void SetDiskRecord();

protected:
    // Writes sectorCount sectors from firstSector (checked to lie inside the device) to out.
    virtual void FillSectors(u8* out, i64 firstSector, i64 sectorCount) = 0;

    u32 m_sectorSize;
    i64 m_totalSectors;

private:
    u32 m_type;
    IStorageDeviceData* m_data = nullptr;
    u64 m_lastError = 0;
};

class FuzzDevice : public InputDevice {
public:
    // totalSectors: what the device claims to hold (at least the input's sectors).
    FuzzDevice(const uint8_t* image, size_t size, u32 sectorSize, i64 totalSectors,
               u32 type = STORAGE_DEVICE_VOLUME);

private:
    // Each sector folds onto the input (its last sector zero-padded).
    void FillSectors(u8* out, i64 firstSector, i64 sectorCount) override;

    const uint8_t* m_image;
    size_t m_size;
    size_t m_imageSectors;
};

// A device of the given size whose bytes are the pieces placed at their offsets (a later piece over an
// earlier one), zeros elsewhere. The pieces' bytes are not copied: they outlive the device.
class PiecesDevice : public InputDevice {
public:
    struct Piece {
        u64 offset;
        const uint8_t* data;
        size_t size;
    };
    PiecesDevice(std::vector<Piece> pieces, u32 sectorSize, i64 totalSectors, u32 type = STORAGE_DEVICE_VOLUME);

private:
    void FillSectors(u8* out, i64 firstSector, i64 sectorCount) override;

    std::vector<Piece> m_pieces;
};

// The geometry header of the harnesses that read a device, and the image after it.
//   byte 0: bit 0 set: 4096-byte sectors, else 512.
//   byte 1: the device claims max(input sectors, 2^(byte % 21)) sectors (at most 512 MiB of 512-byte
//           sectors: work that grows with the device stays short).
struct DeviceInput {
    u32 sectorSize = 512;
    i64 totalSectors = 0;
    const uint8_t* image = nullptr;
    size_t imageSize = 0;
};
inline constexpr size_t kDeviceHeaderBytes = 2;
// False when the input is shorter than the header.
bool ReadDeviceHeader(const uint8_t* data, size_t size, DeviceInput& out);

}  // namespace fuzz
