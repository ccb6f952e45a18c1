// The one way the engine reads integers out of bytes that came from a disk.
//
// A ByteReader is a bounded view: every read names its offset in the view, and a read that does not fit
// answers "absent" (std::nullopt) without touching a byte outside the view. Offsets and lengths are
// checked without overflow, so a hostile 64-bit offset read from disk is simply absent. Values are
// copied out of the bytes and put in the host's order, so alignment and the host's byte order never matter.
//
// ByteWriter is the bounded counterpart for the few places that build on-disk bytes themselves (test
// writers, records the engine composes in memory); it never writes to a device.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "engine/Common/Types.h"

enum class ByteOrder { Little, Big };

// Eight 16-bit values side by side (the compiler's vector type: one register on hosts that have them,
// plain words elsewhere), for loops that test a table or a name eight values at a time.
using U16x8 = u16 __attribute__((vector_size(16)));

class ByteReader {
public:
    constexpr ByteReader() = default;
    constexpr ByteReader(const u8* data, size_t size) : m_data(data), m_size(data != nullptr ? size : 0) {}
    ByteReader(const void* data, size_t size) : ByteReader(static_cast<const u8*>(data), size) {}
    constexpr ByteReader(std::span<const u8> bytes) : ByteReader(bytes.data(), bytes.size()) {}

    const u8* data() const { return m_data; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    // True when [offset, offset + length) lies inside the view (overflow-safe).
    bool Has(size_t offset, size_t length) const { return offset <= m_size && length <= m_size - offset; }
    // The same for 64-bit offsets and lengths read from disk, which may exceed size_t on 32-bit hosts.
    bool Has64(u64 offset, u64 length) const { return offset <= m_size && length <= m_size - offset; }

    std::optional<u8> U8(size_t offset) const {
        if (!Has(offset, 1)) return std::nullopt;
        return m_data[offset];
    }
    std::optional<u16> Le16(size_t offset) const { return Read<u16>(offset, ByteOrder::Little); }
    std::optional<u32> Le32(size_t offset) const { return Read<u32>(offset, ByteOrder::Little); }
    std::optional<u64> Le64(size_t offset) const { return Read<u64>(offset, ByteOrder::Little); }
    std::optional<u16> Be16(size_t offset) const { return Read<u16>(offset, ByteOrder::Big); }
    std::optional<u32> Be32(size_t offset) const { return Read<u32>(offset, ByteOrder::Big); }
    std::optional<u64> Be64(size_t offset) const { return Read<u64>(offset, ByteOrder::Big); }
    // Eight big-endian 16-bit values from offset, side by side.
    std::optional<U16x8> Be16x8(size_t offset) const {
        if (!Has(offset, sizeof(U16x8))) return std::nullopt;
        U16x8 v;
        std::memcpy(&v, m_data + offset, sizeof v);
        if constexpr (std::endian::native == std::endian::little) v = (v << 8) | (v >> 8);
        return v;
    }
    // Reads in an order known only at run time (TIFF "II"/"MM", a journal's endian mark).
    std::optional<u16> U16(size_t offset, ByteOrder order) const { return Read<u16>(offset, order); }
    std::optional<u32> U32(size_t offset, ByteOrder order) const { return Read<u32>(offset, order); }
    std::optional<u64> U64(size_t offset, ByteOrder order) const { return Read<u64>(offset, order); }
    // Unsigned fields of 3, 5, 6 or 7 bytes (data-run lengths, 48-bit record numbers).
    std::optional<u64> LeN(size_t offset, size_t width) const {
        if (width == 0 || width > 8 || !Has(offset, width)) return std::nullopt;
        u64 v = 0;
        for (size_t i = width; i-- > 0;) v = (v << 8) | m_data[offset + i];
        return v;
    }
    std::optional<u64> BeN(size_t offset, size_t width) const {
        if (width == 0 || width > 8 || !Has(offset, width)) return std::nullopt;
        u64 v = 0;
        for (size_t i = 0; i < width; ++i) v = (v << 8) | m_data[offset + i];
        return v;
    }

    // A sub-view of [offset, offset + length), absent when it does not fit.
    std::optional<ByteReader> Sub(size_t offset, size_t length) const {
        if (!Has(offset, length)) return std::nullopt;
        return ByteReader(m_data + offset, length);
    }
    // The view from offset to its end (empty when offset is at or past the end).
    ByteReader From(size_t offset) const {
        if (offset >= m_size) return ByteReader(m_data, 0);
        return ByteReader(m_data + offset, m_size - offset);
    }
    std::optional<std::span<const u8>> Bytes(size_t offset, size_t length) const {
        if (!Has(offset, length)) return std::nullopt;
        return std::span<const u8>(m_data + offset, length);
    }
    // True when the bytes at offset equal `expected` (false when they do not fit).
    bool Equals(size_t offset, const void* expected, size_t length) const {
        return Has(offset, length) && (length == 0 || std::memcmp(m_data + offset, expected, length) == 0);
    }
    bool Equals(size_t offset, std::string_view expected) const {
        return Equals(offset, expected.data(), expected.size());
    }
    // Copies length bytes at offset to out; false (and nothing copied) when they do not fit.
    bool CopyTo(size_t offset, void* out, size_t length) const {
        if (!Has(offset, length)) return false;
        if (length != 0) std::memcpy(out, m_data + offset, length);
        return true;
    }

private:
    // The bytes are copied (any alignment) and swapped when their order is not the host's: one load on
    // the hot paths (the signature search reads a key of every sector).
    template <typename T>
    std::optional<T> Read(size_t offset, ByteOrder order) const {
        if (!Has(offset, sizeof(T))) return std::nullopt;
        T v;
        std::memcpy(&v, m_data + offset, sizeof(T));
        const ByteOrder host = std::endian::native == std::endian::little ? ByteOrder::Little : ByteOrder::Big;
        if (order != host) v = Swapped(v);
        return v;
    }
    static u16 Swapped(u16 v) { return __builtin_bswap16(v); }
    static u32 Swapped(u32 v) { return __builtin_bswap32(v); }
    static u64 Swapped(u64 v) { return __builtin_bswap64(v); }

    const u8* m_data = nullptr;
    size_t m_size = 0;
};

class ByteWriter {
public:
    ByteWriter(u8* data, size_t size) : m_data(data), m_size(data != nullptr ? size : 0) {}
    ByteWriter(std::span<u8> bytes) : ByteWriter(bytes.data(), bytes.size()) {}

    size_t size() const { return m_size; }
    bool Has(size_t offset, size_t length) const { return offset <= m_size && length <= m_size - offset; }

    bool U8(size_t offset, u8 v) { return Write(offset, v, 1, ByteOrder::Little); }
    bool Le16(size_t offset, u16 v) { return Write(offset, v, 2, ByteOrder::Little); }
    bool Le32(size_t offset, u32 v) { return Write(offset, v, 4, ByteOrder::Little); }
    bool Le64(size_t offset, u64 v) { return Write(offset, v, 8, ByteOrder::Little); }
    bool Be16(size_t offset, u16 v) { return Write(offset, v, 2, ByteOrder::Big); }
    bool Be32(size_t offset, u32 v) { return Write(offset, v, 4, ByteOrder::Big); }
    bool Be64(size_t offset, u64 v) { return Write(offset, v, 8, ByteOrder::Big); }
    bool U16(size_t offset, u16 v, ByteOrder order) { return Write(offset, v, 2, order); }
    bool U32(size_t offset, u32 v, ByteOrder order) { return Write(offset, v, 4, order); }
    bool U64(size_t offset, u64 v, ByteOrder order) { return Write(offset, v, 8, order); }
    bool Bytes(size_t offset, const void* bytes, size_t length) {
        if (!Has(offset, length)) return false;
        if (length != 0) std::memcpy(m_data + offset, bytes, length);
        return true;
    }

private:
    bool Write(size_t offset, u64 v, size_t width, ByteOrder order) {
        if (!Has(offset, width)) return false;
        for (size_t i = 0; i < width; ++i) {
            const size_t at = order == ByteOrder::Little ? i : width - 1 - i;
            m_data[offset + at] = static_cast<u8>(v >> (8 * i));
        }
        return true;
    }

    u8* m_data = nullptr;
    size_t m_size = 0;
};
