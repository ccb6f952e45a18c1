#include "engine/FATLib/FATDirEntry.h"

#include <cassert>
#include <cstring>
#include <ctime>

CTempFATDirEntry::CTempFATDirEntry(const u8* entry) : m_entry(entry), m_constructed(entry) {
    assert(entry != nullptr && "FATDirEntry.cpp: null directory entry");
}

bool CTempFATDirEntry::InitFromBuffer(const u8* entry) {
    assert(entry != nullptr && "FATDirEntry.cpp: null directory entry");
    m_entry = entry;
    return IsValidFATDirEntry(true);
}

namespace {

// Writes cp as UTF-8 at out (room for 4 bytes); answers the bytes written.
size_t PutUtf8(char* out, u32 cp) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

bool IsHighSurrogate(u32 u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(u32 u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// The code point at units[i], and how many units it takes: a surrogate pair is one, an unpaired
// surrogate is U+FFFD.
u32 CodePointAt(const char16_t* units, size_t count, size_t i, size_t& used) {
    const u32 u = units[i];
    used = 1;
    if (IsHighSurrogate(u) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
        used = 2;
        return 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
    }
    if (u >= 0xD800 && u <= 0xDFFF) return 0xFFFD;
    return u;
}

bool IsDotName(const u8* entry, const char* name11) {
    const CTempFATDirEntry e(entry);
    return std::memcmp(entry + fat_dir_entry_layout::kName, name11, fat_dir_entry_layout::kShortNameSize) == 0 &&
           e.IsDirectory() && !e.IsLongFileNameEntry();
}

}  // namespace

std::string fat::Utf16ToUtf8(const std::u16string& units) {
    return Utf16ToUtf8(units.data(), units.size());
}

std::string fat::Utf16ToUtf8(const char16_t* units, size_t count) {
    // At most 3 bytes per unit: a pair of units makes 4.
    std::string out(count * 3, '\0');
    size_t at = 0;
    for (size_t i = 0, used = 0; i < count; i += used) at += PutUtf8(&out[at], CodePointAt(units, count, i, used));
    out.resize(at);
    return out;
}

u8 fat::ShortNameChecksum(const u8* entry, u8 firstByte) {
    u8 sum = 0;
    for (size_t i = 0; i < fat_dir_entry_layout::kShortNameSize; ++i) {
        const u8 c = i == 0 ? firstByte : entry[fat_dir_entry_layout::kName + i];
        sum = static_cast<u8>(((sum & 1) << 7) + (sum >> 1) + c);
    }
    return sum;
}

size_t fat::Utf8Length(const char16_t* units, size_t count) {
    size_t length = 0;
    for (size_t i = 0, used = 0; i < count; i += used) {
        const u32 cp = CodePointAt(units, count, i, used);
        length += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    }
    return length;
}

bool CTempFATDirEntry::IsValidFATDirEntry(bool checkClusters) const {
    const u8 attribute = GetAttribute();
    if (attribute == 0x0F) return true;
    if (attribute > 63) return false;
    const u32 cluster = GetFirstClusterNO();
    const u32 size = GetSize();
    if (checkClusters && !(attribute & 0x10)) {
        if ((cluster == 0 && size != 0) || (cluster != 0 && size == 0)) return false;
    }
    if (checkClusters && (attribute & 0x10) && size != 0 && GetClusterHigh() != 0) return false;
    if (!fat::IsPlausibleDosDate(GetCreationDate()) || !fat::IsPlausibleDosDate(GetAccessDate()) ||
        !fat::IsPlausibleDosDate(GetModificationDate()))
        return false;
    if (!fat::IsPlausibleDosTime(GetCreationTime()) || !fat::IsPlausibleDosTime(GetModificationTime())) return false;
    if (attribute & 0x40) return false;
    if (attribute & 0x08) return true;
    return IsValidFileName(m_entry + fat_dir_entry_layout::kName);
}

bool CTempFATDirEntry::IsValidFileName(const u8* name) {
    if (name[0] == ' ') return false;
    for (size_t i = 0; i < fat_dir_entry_layout::kShortNameSize; ++i) {
        const u8 c = name[i];
        if (c < fat::kLowestNameByte || std::strchr("\"*/:<>?\\|", c) != nullptr) return false;
        if (c >= 0x80) ++i;  // first byte of a two-byte character: the next byte is not examined
    }
    return true;
}

bool CTempFATDirEntry::IsValidLongFileName(const std::string& name) {
    return !name.empty() && name.find_first_of("?*|\\/:\"<>") == std::string::npos;
}

std::string CTempFATDirEntry::GetShortName(bool noDot) const {
    // Byte 12 tells a name written in lower case (Windows and Linux keep "summer.txt" in an 8.3 entry
    // so): its base, its extension, or both are shown so.
    auto part = [](const u8* p, size_t n, bool firstMayBeErased, bool lower) {
        std::string s;
        for (size_t i = 0; i < n; ++i) {
            u8 c = p[i];
            if (i == 0 && firstMayBeErased && c == 0xE5) {
                s.push_back('#');
            } else if (lower && c >= 'A' && c <= 'Z') {
                s.push_back(static_cast<char>(c - 'A' + 'a'));
            } else {
                s.push_back(c >= 0x80 ? '_' : static_cast<char>(c));
            }
        }
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    };
    using namespace fat_dir_entry_layout;
    const u8 flags = m_entry[kCaseFlags];
    const std::string name = part(m_entry + kName, kNameSize, true, (flags & kLowerCaseBase) != 0);
    const std::string ext = part(m_entry + kExtension, kExtensionSize, false, (flags & kLowerCaseExtension) != 0);
    if (ext.empty()) return name;
    return noDot ? name + ext : name + "." + ext;
}

std::u16string CTempFATDirEntry::GetLongFileNameUnits() const {
    char16_t units[13];
    return std::u16string(units, GetLongFileNameUnits(units));
}

size_t CTempFATDirEntry::GetLongFileNameUnits(char16_t (&units)[13]) const {
    size_t count = 0;
    for (size_t off : fat_dir_entry_layout::kNameUnits) {
        const char16_t u = Word(off);
        if (u == 0) break;
        units[count++] = u;
    }
    return count;
}

std::string CTempFATDirEntry::GetLongFileName() const {
    std::string name = fat::Utf16ToUtf8(GetLongFileNameUnits());
    return name.empty() ? "_" : name;
}

bool IsCurDirFileName(const u8* entry) {
    return IsDotName(entry, ".          ");
}
bool IsParentDirFileName(const u8* entry) {
    return IsDotName(entry, "..         ");
}

// ---- directory sector test ---------------------------------------------------------------------------

bool CFATFolderAnalyser::IsBlankFATDirEntry(const u8* entry) {
    for (size_t i = 0; i < fat_dir_entry_layout::kSize; ++i) {
        if (entry[i] != 0) return false;
    }
    return true;
}

void CFATFolderAnalyser::Reset() {
    m_state = kNotDirectory;
    m_count = 0;
    m_dotCluster = 0;
    m_dotDotCluster = 0;
    m_maxCluster = 0;
}

int CFATFolderAnalyser::Finish(bool dot, bool dotDot, bool failed) {
    if (dot && dotDot) {
        m_state = kDirectoryStart;
    } else if (m_count == 0 || failed) {
        Reset();
    } else {
        m_state = kEntries;
        m_dotCluster = 0;
        m_dotDotCluster = 0;
    }
    return m_state;
}

int CFATFolderAnalyser::AnalyseSector(const u8* sector, CFatFolderAnalyzeCB callback, void* context) {
    assert(sector != nullptr && "FATDirEntry.cpp: null sector");
    Reset();
    if (m_sectorSize == 0) return m_state;
    bool dot = false;
    bool dotDot = false;
    bool havePrevious = false;
    u32 previousCluster = 0;
    const u32 entries = m_sectorSize / fat_dir_entry_layout::kSize;
    for (u32 k = 0; k < entries; ++k) {
        const u8* e = sector + u64{k} * fat_dir_entry_layout::kSize;
        CTempFATDirEntry entry(e);
        if (!entry.IsValidFATDirEntry(false)) {
            if (m_count == 0 && !(dot && dotDot)) return Finish(dot, dotDot, true);
            if (IsBlankFATDirEntry(e)) return Finish(dot, dotDot, false);
            return Finish(dot, dotDot, !(dot && dotDot));
        }
        if (entry.IsLongFileNameEntry()) continue;
        const u32 cluster = entry.GetFirstClusterNO();
        if (cluster > m_maxCluster) m_maxCluster = cluster;
        if (k == 0 && IsCurDirFileName(e)) {
            dot = true;
            m_dotCluster = cluster;
            continue;
        }
        if (k == 1 && IsParentDirFileName(e)) {
            dotDot = true;
            m_dotDotCluster = cluster;
            continue;
        }
        if (callback != nullptr) callback(e, static_cast<int>(k), dot && dotDot, context);
        if (!entry.IsErased()) {
            if (havePrevious && cluster == previousCluster) return Finish(dot, dotDot, true);
            havePrevious = true;
            previousCluster = cluster;
        }
        ++m_count;
    }
    return Finish(dot, dotDot, false);
}

// ---- times -------------------------------------------------------------------------------------------

void SecondsSince1970ToFileTime(i64 seconds, _FILETIME* out) {
    if (out != nullptr) *out = seconds * 10000000LL + kFileTimeOf1970;
}

namespace {

i64 DosToSeconds(u16 date, u16 time) {
    std::tm tm{};
    tm.tm_sec = (time & 31) * 2;
    tm.tm_min = (time >> 5) & 63;
    tm.tm_hour = time >> 11;
    tm.tm_mday = date & 31;
    tm.tm_mon = ((date >> 5) & 15) - 1;
    tm.tm_year = (date >> 9) + 80;
    tm.tm_isdst = -1;
    return static_cast<i64>(std::mktime(&tm));
}

}  // namespace

void DosDateTimeToFileTime(u16 date, u16 time, _FILETIME* out) {
    // mktime looks at the zone file on every call; the entries of a volume share few distinct stamps,
    // so the answers are remembered per thread (a direct-mapped table keyed by date and time).
    struct Slot {
        u32 key = 0;
        bool used = false;
        i64 seconds = 0;
    };
    thread_local Slot cache[1024];
    const u32 key = (u32{date} << 16) | time;
    Slot& slot = cache[(key ^ (key >> 10) ^ (key >> 20)) & 1023];
    if (!slot.used || slot.key != key) {
        slot.key = key;
        slot.seconds = DosToSeconds(date, time);
        slot.used = true;
    }
    SecondsSince1970ToFileTime(slot.seconds, out);
}
