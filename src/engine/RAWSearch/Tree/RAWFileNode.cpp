#include "engine/RAWSearch/Tree/RAWFileNode.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "engine/Utility/IDataRunList.h"

namespace {

std::array<u32, kRawFileTypeRows>& NameCounters() {
    static std::array<u32, kRawFileTypeRows> counters{};
    return counters;
}

// Seconds of a local date and time as mktime gives them; false when it cannot be represented.
bool LocalSeconds(int year, int month, int day, int hour, int minute, int second, i64& out) {
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    const time_t v = mktime(&t);
    if (v == static_cast<time_t>(-1) && !(year == 1969 && month == 12 && day == 31)) return false;
    out = static_cast<i64>(v);
    return true;
}

}  // namespace

void ResetRawNameCounters() { NameCounters().fill(0); }

bool RawIsValidUtf8(const char* text) {
    if (text == nullptr) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        int n = 0;
        u32 c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            n = 1;
            c &= 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            c &= 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            c &= 0x07;
        } else {
            return false;
        }
        for (int i = 1; i <= n; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            c = (c << 6) | (p[i] & 0x3F);
        }
        static constexpr u32 kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        p += n + 1;
    }
    return true;
}

CRAWFileProperties::~CRAWFileProperties() {
    if (m_dataRuns != nullptr) m_dataRuns->Release();
}

CRAWFileProperties::CRAWFileProperties(const CRAWFileProperties& other)
    : IFileProperties(),
      m_name(other.m_name),
      m_size(other.m_size),
      m_attribute(other.m_attribute),
      m_checkState(other.m_checkState),
      m_matchState(other.m_matchState),
      m_state(other.m_state),
      m_time(other.m_time),
      m_dataRuns(other.m_dataRuns != nullptr ? other.m_dataRuns->Clone() : nullptr) {}

IFileProperties* CRAWFileProperties::Clone() { return new CRAWFileProperties(*this); }

u16 CRAWFileProperties::GetFileNameLength() {
    return static_cast<u16>(std::min<size_t>(m_name.size() + 1, 0xFFFF));
}

int CRAWFileProperties::InitRawFileProperties(CRawFileInfo& info) {
    m_size = info.m_size;
    m_time = info.GetRawFileTime();
    if (m_dataRuns != nullptr) m_dataRuns->Release();
    m_dataRuns = CreateDataRunList();
    DataRun run;
    run.start = info.m_startSector;
    run.length = (m_size + 511) / 512;
    m_dataRuns->AddDataRun(run);
    return 1;
}

void CRAWFileProperties::SetRawFileName(const char* name) {
    if (name == nullptr) return;  // "NULL != pfileName"
    m_name = name;
}

CRAWFileNode::~CRAWFileNode() { CRAWFileProperties::Destory(m_properties); }

IFileNode* CRAWFileNode::Clone() {
    return new CRAWFileNode(*this);
}

CRAWFileNode::CRAWFileNode(const CRAWFileNode& other)
    : CFileNode(other),
      m_properties(other.m_properties != nullptr ? static_cast<CRAWFileProperties*>(other.m_properties->Clone())
                                                 : nullptr),
      m_name(other.m_name) {
}

void CRAWFileNode::SetProperties(CRAWFileProperties* properties) {
    if (properties == m_properties) return;
    CRAWFileProperties::Destory(m_properties);
    m_properties = properties;
}

std::string CRAWFileNode::BuildFileName(unsigned short type, const char* name) {
    const std::string ext = RawFileExtension(type);
    u32 counter = 0;
    if (type < kRawFileTypeRows) counter = NameCounters()[type]++;
    char number[16];
    snprintf(number, sizeof(number), "%03u", counter);
    if (name != nullptr && name[0] != 0 && RawIsValidUtf8(name)) return std::string(name) + number + "." + ext;
    return std::string("FILE") + number + "." + ext;
}

int CRAWFileNode::Initilaize(CRawFileInfo* info, unsigned attribute, long long parentID, long long nodeID) {
    if (info == nullptr) return 0;
    if (m_properties == nullptr) {
        m_properties = CRAWFileProperties::Create();
        m_properties->InitRawFileProperties(*info);
    }
    m_properties->SetAttribute(static_cast<u16>(attribute));
    if ((attribute & CRAWFileProperties::kAttributeDirectory) != 0) {
        m_name = CleanRawFileName(info->GetRawFileName());
    } else {
        m_name = BuildFileName(static_cast<unsigned short>(std::min<u32>(info->m_type, 0xFFFF)),
                               info->GetRawFileName().c_str());
    }
    if (IDataRunList* runs = m_properties->GetDataRunList()) SetDataRunList(runs->Clone());
    SetCurrentNodeID(nodeID);
    SetParentNodeID(parentID);
    return 1;
}

int CRAWFileNode::FileTimeStructs(std::string text, std::vector<std::string>& fields) {
    fields.clear();
    if (text.size() < 2) return 0;
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return 0;
    text = text.substr(first);
    std::string field;
    for (char c : text) {
        if (c == ' ' || c == '-' || c == ':') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return 1;
}

_FILETIME CRAWFileNode::GetLastAccessTime() {
    if (m_properties == nullptr) return 0;
    std::vector<std::string> f;
    if (FileTimeStructs(m_properties->GetTimeText(), f) == 0 || f.size() < 6) return 0;
    // The text comes from the found file itself: a field past any date's (a year of 50000, a number
    // beyond int) is no time, and neither is a date a FILETIME cannot hold.
    constexpr long kMaxField = 99999;
    int v[6];
    for (int i = 0; i < 6; ++i) {
        char* end = nullptr;
        const long x = strtol(f[static_cast<size_t>(i)].c_str(), &end, 10);
        if (f[static_cast<size_t>(i)].empty() || *end != 0 || x < 0 || x > kMaxField) return 0;
        v[i] = static_cast<int>(x);
    }
    i64 when = 0, epoch1904 = 0;
    if (!LocalSeconds(v[0], v[1], v[2], v[3], v[4], v[5], when) || !LocalSeconds(1904, 1, 1, 0, 0, 0, epoch1904)) {
        return 0;
    }
    i64 ticks = 0;
    if (__builtin_mul_overflow(when - epoch1904, i64{10000000}, &ticks) ||
        __builtin_add_overflow(ticks, i64{95616288000000000}, &ticks)) {
        return 0;
    }
    return ticks;
}
