// Offsets of a tar header record, and the walk over an archive's records shared by both sizing paths.
#pragma once

#include "engine/Common/Types.h"

namespace tar_layout {
inline constexpr u64 kRecord = 512;
inline constexpr u64 kSize = 124;       // 12 octal characters
inline constexpr u64 kSizeDigits = 11;  // the twelfth is a terminator
inline constexpr u64 kMagic = 257;      // "ustar"
inline constexpr u64 kBlocking = 10240; // tar pads an archive to 20 records
inline constexpr u64 kDeviceCap = 0xD000000;
}  // namespace tar_layout

// The value of the first eleven characters of an octal field; a character that is not a digit counts 0.
u64 OctStringToint(const char* field);

// Fed the archive's records in order of their offsets (NextRecord() says which one it wants next), it
// finds where the archive ends: after the headers and their data (rounded to whole records) come the
// zero records that end it, up to tar's blocking of 20 records; a record that is neither ends it there.
class TarWalk {
public:
    u64 NextRecord() const { return m_next; }
    bool Done() const { return m_done; }
    // True while the record at NextRecord() is to be an entry header.
    bool WantsHeader() const { return !m_done && m_zeroStart == 0; }
    // The archive's length; valid once Done().
    u64 Size() const { return m_size; }
    // Takes the 512 bytes of record NextRecord(). False when that was the first record and it is no
    // header (not a tar at all).
    bool Take(const unsigned char* record);
    // Ends the walk at the next record wanted (cap reached or the device ends).
    void Stop() {
        m_size = m_next;
        m_done = true;
    }

private:
    u64 m_next = 0;
    u64 m_zeroStart = 0;  // offset of the first zero record after the headers; 0 while headers go on
    bool m_done = false;
    u64 m_size = 0;
};
