#include "engine/EXFatSearch/ExFatDirEntry.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/FATLib/FATDirEntry.h"

namespace {

namespace e = exfat::entry;

bool AllZero(ByteReader entry, size_t offset, size_t length) {
    if (!entry.Has(offset, length)) return false;
    for (size_t i = 0; i < length; ++i) {
        if (entry.data()[offset + i] != 0) return false;
    }
    return true;
}

u8 Byte(ByteReader entry, size_t offset) { return entry.U8(offset).value_or(0); }
u16 Unit(ByteReader entry, size_t offset) { return entry.Le16(offset).value_or(0); }
u32 Word(ByteReader entry, size_t offset) { return entry.Le32(offset).value_or(0); }
u64 Quad(ByteReader entry, size_t offset) { return entry.Le64(offset).value_or(0); }

// Characters below 256 that never stand in a name: controls and " * / : < > ? \ |.
constexpr bool IsRefusedBelow256(u16 c) {
    return c <= 0x19 || c == 0x22 || c == 0x2A || c == 0x2F || c == 0x3A || c == 0x3C || c == 0x3E || c == 0x3F ||
           c == 0x5C || c == 0x7C;
}
// The same as a bit per character below 128 (none from 128 to 255 is refused).
constexpr u64 RefusedBits(u16 from) {
    u64 bits = 0;
    for (u16 c = 0; c < 64; ++c) bits |= IsRefusedBelow256(static_cast<u16>(from + c)) ? u64{1} << c : 0;
    return bits;
}
constexpr u64 kRefusedLow = RefusedBits(0);
constexpr u64 kRefusedHigh = RefusedBits(64);
constexpr bool IsRefusedCharacter(u16 c) {
    if (c >= 128) return false;
    return (((c < 64 ? kRefusedLow : kRefusedHigh) >> (c & 63)) & 1) != 0;
}
// A name entry's characters below 128 by what they do to the name: end it (0), stand in it, or refuse it.
enum class NameClass : u8 { Plain, End, Refused };
constexpr size_t kNameClassCount = 128;
constexpr std::array<NameClass, kNameClassCount> MakeNameClasses() {
    std::array<NameClass, kNameClassCount> classes{};
    for (u16 c = 0; c < kNameClassCount; ++c) {
        classes[c] = c == 0 ? NameClass::End : IsRefusedCharacter(c) ? NameClass::Refused : NameClass::Plain;
    }
    return classes;
}
constexpr std::array<NameClass, kNameClassCount> kNameClass = MakeNameClasses();
constexpr bool BitsMatchTheList() {
    for (u16 c = 0; c < 256; ++c) {
        if (IsRefusedCharacter(c) != IsRefusedBelow256(c)) return false;
    }
    return true;
}
static_assert(BitsMatchTheList());

}  // namespace

bool CExFatEntryRules::IsValidTimestamp(u32 stamp) {
    const u32 twoSeconds = stamp & 0x1F;
    const u32 minute = (stamp >> 5) & 0x3F;
    const u32 hour = (stamp >> 11) & 0x1F;
    const u32 day = (stamp >> 16) & 0x1F;
    const u32 month = (stamp >> 21) & 0x0F;
    return day != 0 && month >= 1 && month <= 12 && hour < 24 && minute < 60 && twoSeconds < 30;
}

bool CExFatEntryRules::IsNameCharacter(u16 c) const { return !IsRefusedCharacter(c); }

bool CExFatEntryRules::IsValidFileEntry(ByteReader entry) const {
    namespace f = exfat::file;
    if (!entry.Has(0, e::kSize)) return false;
    const u8 secondaries = Byte(entry, f::kSecondaryCount);
    if (secondaries < e::kMinSecondaryCount || secondaries > e::kMaxSecondaryCount) return false;
    for (size_t at : {f::kCreateTime, f::kModifiedTime, f::kAccessedTime}) {
        if (!IsValidTimestamp(Word(entry, at))) return false;
    }
    // Reserved bytes refuse nothing: formatters and drivers leave other bytes there than zeros, which the
    // kernel and other readers pass over.
    return Byte(entry, f::kCreate10ms) <= f::kMax10ms && Byte(entry, f::kModified10ms) <= f::kMax10ms;
}

bool CExFatEntryRules::IsValidStreamEntry(ByteReader entry) const {
    namespace s = exfat::stream;
    if (!entry.Has(0, e::kSize)) return false;
    const u32 first = Word(entry, s::kFirstCluster);
    if (first == 1 || first > 0xFFFFFFF6u) return false;
    const u64 length = Quad(entry, s::kDataLength);
    const u64 valid = Quad(entry, s::kValidDataLength);
    if ((length >> m_sectorShift) >= m_totalSectors || (valid >> m_sectorShift) >= m_totalSectors) return false;
    if (first != 0 && (Byte(entry, s::kFlags) & s::kNoFatChainFlag) != 0) {
        // Shifts of at least 9 keep these sums far below 2^64.
        if ((length >> m_clusterShift) + first >= 0xFFFFFFF6u) return false;
        if ((valid >> m_clusterShift) + first >= 0xFFFFFFF6u) return false;
    }
    return true;
}

bool CExFatEntryRules::IsValidNameEntry(ByteReader entry) const {
    namespace n = exfat::name;
    if (!entry.Has(0, e::kSize)) return false;
    if (Byte(entry, n::kFlags) != 0) return false;
    const u8* characters = entry.data() + n::kCharacters;  // the 32 bytes are there
    if (Unit(entry, n::kCharacters) == 0) return false;
    for (size_t i = 0; i < n::kCharacterCount; ++i) {
        const u16 c = static_cast<u16>(characters[2 * i] | (characters[2 * i + 1] << 8));
        if (c == 0) break;
        if (IsRefusedCharacter(c)) return false;
    }
    return true;
}

bool CExFatEntryRules::IsValidVolumeLabelEntry(ByteReader entry) const {
    namespace l = exfat::label;
    if (!entry.Has(0, e::kSize)) return false;
    const u8 count = Byte(entry, l::kCharacterCount);
    if (count > l::kMaxCharacters) return false;
    for (size_t i = 0; i < count; ++i) {
        if (!IsNameCharacter(Unit(entry, l::kCharacters + 2 * i))) return false;
    }
    const size_t rest = l::kCharacters + 2 * size_t{count};
    return AllZero(entry, rest, l::kReserved - rest) && AllZero(entry, l::kReserved, l::kReservedLength);
}

bool CExFatEntryRules::IsValidTableEntry(ByteReader entry, size_t firstCluster, size_t dataLength) const {
    const u32 first = Word(entry, firstCluster);
    if (!exfat::IsCluster(first)) return false;
    const u64 length = Quad(entry, dataLength);
    if ((length >> m_sectorShift) >= m_totalSectors) return false;
    return (length >> m_clusterShift) + first <= exfat::kLastCluster;
}

bool CExFatEntryRules::IsValidBitmapEntry(ByteReader entry) const {
    namespace b = exfat::bitmap;
    if (!entry.Has(0, e::kSize)) return false;
    return IsValidTableEntry(entry, b::kFirstCluster, b::kDataLength);
}

bool CExFatEntryRules::IsValidUpcaseEntry(ByteReader entry) const {
    namespace u = exfat::upcase;
    if (!entry.Has(0, e::kSize)) return false;
    return IsValidTableEntry(entry, u::kFirstCluster, u::kDataLength);
}

u16 ExFatSetChecksum(ByteReader set, bool restoreTypes) {
    // Rotate right by one, then add: the two bytes of the stored checksum are left out, and with
    // restoreTypes each entry's type byte counts as the in-use type of its place in the set.
    const u8* bytes = set.data();
    const size_t size = set.size();
    u16 sum = 0;
    const auto add = [&sum](u8 byte) { sum = static_cast<u16>(static_cast<u16>((sum >> 1) | (sum << 15)) + byte); };
    if (!restoreTypes) {
        // Every byte as it stands: one run after the skipped two, four bytes a turn.
        for (size_t i = 0; i < std::min(size, exfat::file::kSetChecksum); ++i) add(bytes[i]);
        size_t at = exfat::file::kSetChecksum + 2;
        for (; at + 4 <= size; at += 4) {
            add(bytes[at]);
            add(bytes[at + 1]);
            add(bytes[at + 2]);
            add(bytes[at + 3]);
        }
        for (; at < size; ++at) add(bytes[at]);
        return sum;
    }
    const size_t head = std::min(size, exfat::file::kSetChecksum);
    for (size_t i = 0; i < head; ++i) add(restoreTypes && i == e::kType ? e::kFile : bytes[i]);
    size_t at = exfat::file::kSetChecksum + 2;
    while (at < size) {
        const size_t entryEnd = std::min(size, (at / e::kSize + 1) * e::kSize);
        for (; at < entryEnd; ++at) add(bytes[at]);
        if (at < size && restoreTypes) {
            add(at == e::kSize ? e::kStream : e::kName);
            ++at;
        }
    }
    return sum;
}

bool CheckDirEntry(const unsigned char* set, unsigned int length, unsigned short stored) {
    if (length == 0 || set == nullptr) return stored == 0;
    const ByteReader bytes(set, length);
    if (ExFatSetChecksum(bytes, false) == stored) return true;
    return set[0] == e::kDeletedFile && ExFatSetChecksum(bytes, true) == stored;
}

void _tagFileBaseInfo::TakeFileEntry(ByteReader entry, i64 at) {
    namespace f = exfat::file;
    inUse = (Byte(entry, e::kType) & e::kInUseBit) != 0 ? 1 : 0;
    attributes = Unit(entry, f::kAttributes);
    createTime = Word(entry, f::kCreateTime);
    modifiedTime = Word(entry, f::kModifiedTime);
    accessedTime = Word(entry, f::kAccessedTime);
    sector = at;
}

void _tagFileBaseInfo::TakeStreamEntry(ByteReader entry) {
    namespace s = exfat::stream;
    // The stream test bounds the length by the device, so it fits an i64.
    dataLength = static_cast<i64>(Quad(entry, s::kDataLength));
    firstCluster = Word(entry, s::kFirstCluster);
    noFatChain = (Byte(entry, s::kFlags) & s::kNoFatChainFlag) != 0 ? 1 : 0;
    nameLength = Byte(entry, s::kNameLength);
}

void _tagFileBaseInfo::AppendNameEntry(ByteReader entry) {
    namespace n = exfat::name;
    if (entry.Has(n::kCharacters, 2 * n::kCharacterCount)) {
        const u8* characters = entry.data() + n::kCharacters;
        for (size_t i = 0; i < n::kCharacterCount && nameUnitCount < kMaxNameUnits; ++i) {
            const u16 c = static_cast<u16>(characters[2 * i] | (characters[2 * i + 1] << 8));
            if (c == 0) break;
            nameUnits[nameUnitCount++] = static_cast<char16_t>(c);
        }
        return;
    }
    for (size_t i = 0; i < n::kCharacterCount && nameUnitCount < kMaxNameUnits; ++i) {
        const u16 c = Unit(entry, n::kCharacters + 2 * i);
        if (c == 0) break;
        nameUnits[nameUnitCount++] = static_cast<char16_t>(c);
    }
}

bool _tagFileBaseInfo::AppendValidNameEntry(ByteReader entry) {
    namespace n = exfat::name;
    if (!entry.Has(0, e::kSize)) return false;
    const ByteReader characters(entry.data() + n::kCharacters, 2 * n::kCharacterCount);  // the bytes are there
    if (entry.data()[n::kFlags] != 0 || characters.Le16(0).value_or(0) == 0) return false;
    // With room for a whole entry's characters (the common case) they are stored as they are read.
    if (nameUnitCount + n::kCharacterCount > kMaxNameUnits) {
        if (!CExFatEntryRules().IsValidNameEntry(entry)) return false;
        AppendNameEntry(entry);
        return true;
    }
    char16_t* out = nameUnits + nameUnitCount;
    size_t count = 0;
    for (; count < n::kCharacterCount; ++count) {
        const u16 c = characters.Le16(2 * count).value_or(0);
        if (c < kNameClassCount && kNameClass[c] != NameClass::Plain) {
            if (kNameClass[c] == NameClass::End) break;
            // Refused: units past the count stay zero.
            std::fill(out, out + count, u'\0');
            return false;
        }
        out[count] = static_cast<char16_t>(c);
    }
    nameUnitCount = static_cast<u16>(nameUnitCount + count);
    return true;
}

bool ExFatAsciiName(std::u16string_view units, char* out, size_t& length) {
    const char16_t* in = units.data();
    const size_t count = units.size();
    u64 seen = 0;
    size_t i = 0;
    // Four units a turn: their low bytes side by side (the units are in memory as the host keeps them).
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 4 <= count; i += 4) {
            u64 word = 0;
            std::memcpy(&word, in + i, sizeof word);
            seen |= word;
            const u32 low = static_cast<u32>((word & 0xFF) | ((word >> 8) & 0xFF00) | ((word >> 16) & 0xFF0000) |
                                             ((word >> 24) & 0xFF000000));
            std::memcpy(out + i, &low, sizeof low);
        }
    }
    for (; i < count; ++i) {
        seen |= in[i];
        out[i] = static_cast<char>(in[i]);
    }
    length = count;
    return (seen & 0xFF80FF80FF80FF80ull) == 0;
}

std::string ExFatNameToUtf8(std::u16string_view units) {
    // A name of plain ASCII is never longer than 255 bytes.
    if (units.size() <= _tagFileBaseInfo::kMaxNameUnits) {
        char ascii[_tagFileBaseInfo::kMaxNameUnits];
        size_t count = 0;
        if (ExFatAsciiName(units, ascii, count)) return std::string(ascii, count);
    }
    std::string name = fat::Utf16ToUtf8(units.data(), units.size());
    if (name.size() <= _tagFileBaseInfo::kMaxNameBytes) return name;
    size_t cut = _tagFileBaseInfo::kMaxNameBytes;
    while (cut > 0 && (static_cast<u8>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
    return name;
}
