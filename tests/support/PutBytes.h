// The tests' byte writer: integers put into a test buffer at an offset, or appended to it, in a
// chosen byte order, through the engine's bounded ByteWriter. A write that does not fit the buffer
// fails the test instead of writing past it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Common/ByteReader.h"

namespace testsupport {

// Writes into the bytes it was given, never growing them.
class PutInto {
public:
    PutInto(u8* data, size_t size) : m_writer(data, size) {}
    explicit PutInto(std::vector<u8>& bytes) : PutInto(bytes.data(), bytes.size()) {}
    explicit PutInto(std::string& bytes) : PutInto(reinterpret_cast<u8*>(bytes.data()), bytes.size()) {}

    PutInto& U8(size_t at, u8 v) { return Check(m_writer.U8(at, v), at); }
    PutInto& Le16(size_t at, u16 v) { return Check(m_writer.Le16(at, v), at); }
    PutInto& Le32(size_t at, u32 v) { return Check(m_writer.Le32(at, v), at); }
    PutInto& Le64(size_t at, u64 v) { return Check(m_writer.Le64(at, v), at); }
    PutInto& Be16(size_t at, u16 v) { return Check(m_writer.Be16(at, v), at); }
    PutInto& Be32(size_t at, u32 v) { return Check(m_writer.Be32(at, v), at); }
    PutInto& Be64(size_t at, u64 v) { return Check(m_writer.Be64(at, v), at); }

private:
    PutInto& Check(bool written, size_t at) {
        if (!written) ADD_FAILURE() << "a test write at " << at << " does not fit " << m_writer.size() << " bytes";
        return *this;
    }

    ByteWriter m_writer;
};

// Appends to a byte vector, which grows by each value's width.
class AppendTo {
public:
    explicit AppendTo(std::vector<u8>& bytes) : m_bytes(bytes) {}

    AppendTo& Le16(u16 v) { return Put<2>([&](ByteWriter w, size_t at) { w.Le16(at, v); }); }
    AppendTo& Le32(u32 v) { return Put<4>([&](ByteWriter w, size_t at) { w.Le32(at, v); }); }
    AppendTo& Le64(u64 v) { return Put<8>([&](ByteWriter w, size_t at) { w.Le64(at, v); }); }
    AppendTo& Be16(u16 v) { return Put<2>([&](ByteWriter w, size_t at) { w.Be16(at, v); }); }
    AppendTo& Be32(u32 v) { return Put<4>([&](ByteWriter w, size_t at) { w.Be32(at, v); }); }
    AppendTo& Be64(u64 v) { return Put<8>([&](ByteWriter w, size_t at) { w.Be64(at, v); }); }

private:
    template <size_t Width, typename Write>
    AppendTo& Put(Write write) {
        const size_t at = m_bytes.size();
        m_bytes.resize(at + Width);
        write(ByteWriter(m_bytes.data(), m_bytes.size()), at);
        return *this;
    }

    std::vector<u8>& m_bytes;
};

}  // namespace testsupport
