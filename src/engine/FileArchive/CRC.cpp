#include "engine/FileArchive/CRC.h"

#include <array>

namespace {

std::array<u16, 256> MakeTable16(u16 polynomial) {
    std::array<u16, 256> table{};
    for (u32 i = 0; i < 256; ++i) {
        u16 crc = static_cast<u16>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<u16>((crc << 1) ^ polynomial) : static_cast<u16>(crc << 1);
        table[i] = crc;
    }
    return table;
}

std::array<u32, 256> MakeTable32(u32 polynomial) {
    std::array<u32, 256> table{};
    for (u32 i = 0; i < 256; ++i) {
        u32 crc = i << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ polynomial : crc << 1;
        table[i] = crc;
    }
    return table;
}

}  // namespace

u16 CCRC::RunCRC16(const void* data, size_t length, u16 polynomial) {
    if (!data || length == 0) return 0;
    const auto table = MakeTable16(polynomial);
    const auto* bytes = static_cast<const u8*>(data);
    u16 crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<u16>(((crc << 8) & 0xFFFF) ^ table[(bytes[i] ^ (crc >> 8)) & 0xFF]);
    }
    return crc;
}

u32 CCRC::RunCRC32(const void* data, size_t length, u32 polynomial) {
    if (!data || length == 0) return 0;
    const auto table = MakeTable32(polynomial);
    const auto* bytes = static_cast<const u8*>(data);
    u32 crc = 0;
    for (size_t i = 0; i < length; ++i) crc = (crc << 8) ^ table[(bytes[i] ^ (crc >> 24)) & 0xFF];
    return crc;
}
