#include "engine/RAWSearch/Analysers/MovAnalyzer.h"

#include <strings.h>

#include <cstring>
#include <string_view>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/BoxLayout.h"
#include "engine/RAWSearch/Analysers/MediaTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace box_layout;

namespace {

constexpr RAW_FILE_TYPE kUndecided = 0;
constexpr RAW_FILE_TYPE kByMp4Rule = 0xFFFFFFFF;  // a table answer: the MP4 rule decides
constexpr u32 kMaxCompatibleRuleLength = 319;

// One row of the major-brand table: the brand's first `length` bytes must match; a fourth byte is
// further limited to `fourth` when that is not null.
struct BrandRow {
    const char* brand;
    size_t length;
    const char* fourth;
    RAW_FILE_TYPE type;
};
// The compatible-brand rule decides these, with this default.
struct CompatibleRow {
    const char* brand;
    RAW_FILE_TYPE fallback;
};

constexpr BrandRow kBrands[] = {
    {"3g2", 3, nullptr, RAW_TYPE_3GP},      {"3ge", 3, nullptr, RAW_TYPE_3GP},  {"3gp", 3, nullptr, RAW_TYPE_3GP},
    {"3gs", 3, nullptr, RAW_TYPE_3GP},      {"KDDI", 4, nullptr, RAW_TYPE_3GP}, {"F4A", 3, nullptr, kByMp4Rule},
    {"F4B", 3, nullptr, kByMp4Rule},        {"F4P", 3, nullptr, kByMp4Rule},    {"F4V", 3, nullptr, kByMp4Rule},
    {"MSNV", 4, nullptr, kByMp4Rule},       {"msnv", 4, nullptr, kByMp4Rule},   {"mmp4", 4, nullptr, kByMp4Rule},
    {"avc1", 4, nullptr, kByMp4Rule},       {"NDA", 3, nullptr, kByMp4Rule},    {"NDS", 3, "CHMPS", kByMp4Rule},
    {"NDX", 3, "CHMPS", kByMp4Rule},        {"M4A", 3, nullptr, RAW_TYPE_M4A},  {"M4V", 3, nullptr, RAW_TYPE_M4V},
    {"qt  ", 4, nullptr, RAW_TYPE_MOV},
};
constexpr CompatibleRow kCompatible[] = {
    {"iso2", RAW_TYPE_MOV},
    {"isom", RAW_TYPE_MOV},
};
constexpr char kMp4Brand[] = "mp4";

// Brands of MP4 and 3GP files that the MOV analyser leaves to the others.
constexpr const char* kNotMov[] = {"ftypisom", "ftyp3gp4", "ftyp3g2a", "ftypmmp4",
                                   "ftypM4A ", "ftypM4V ", "ftypmp41", "ftypmp42"};
constexpr const char* kMp4Starts[] = {"ftypisom", "ftypmmp4", "ftypM4A", "ftypM4V", "ftypmp4"};
constexpr const char* k3gpStarts[] = {"ftyp3g2a", "ftyp3gp", "ftypmmp4"};

bool HasFtyp(const unsigned char* box) { return ByteReader(box, kHeader).Equals(kType, "ftyp", 4); }

bool StartsNoCase(const unsigned char* bytes, const char* text) {
    return strncasecmp(reinterpret_cast<const char*>(bytes), text, strlen(text)) == 0;
}

// The compatible brands as text (up to their first zero byte).
std::string_view CompatibleText(const unsigned char* box) {
    const i64 size = static_cast<i64>(ByteReader(box, kHeader).Be32(kSize).value_or(0));
    const i64 length = std::min<i64>(std::max<i64>(size - kCompatibleBrands, 0), kMaxCompatibleText);
    const char* text = reinterpret_cast<const char*>(box + kCompatibleBrands);
    const void* zero = memchr(text, 0, static_cast<size_t>(length));
    return {text, zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - text)
                                  : static_cast<size_t>(length)};
}

// True when every brand of the text is "mp41" (and there is one at least).
bool OnlyMp41(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        if (text.substr(i, 4) != "mp41") return false;
    }
    return true;
}

RAW_FILE_TYPE ByCompatibleBrands(const unsigned char* box, RAW_FILE_TYPE fallback) {
    const i64 size = static_cast<i64>(ByteReader(box, kHeader).Be32(kSize).value_or(0));
    if (size - kCompatibleBrands > kMaxCompatibleRuleLength) return fallback;
    const std::string_view text = CompatibleText(box);
    if (text.find("M4A") != std::string_view::npos) return RAW_TYPE_M4A;
    if (text.find("M4V") != std::string_view::npos) return RAW_TYPE_M4V;
    if (text.find("avc1") != std::string_view::npos) return Mp4OrTrec(box);
    if (text.find("mp41") != std::string_view::npos) return OnlyMp41(text) ? RAW_TYPE_M4A : Mp4OrTrec(box);
    return fallback;
}

}  // namespace

RAW_FILE_TYPE Mp4OrTrec(const unsigned char* box) {
    return strncasecmp(reinterpret_cast<const char*>(box + kTrecFree), "free", 4) == 0 ? RAW_TYPE_TREC
                                                                                       : RAW_TYPE_MP4;
}

namespace BruteForce {

MovAnalyzer::MovAnalyzer() : MovAnalyzer(RAW_TYPE_MOV, nullptr) {}
MovAnalyzer::MovAnalyzer(RAW_FILE_TYPE type, IRawFileAnalyser* deviceAnalyser)
    : IRawFileAnalyser(static_cast<i32>(type)), m_type(type), m_deviceAnalyser(deviceAnalyser) {}

RAW_FILE_TYPE MovAnalyzer::getTypeByMajorBrand(const unsigned char* box) {
    const unsigned char* brand = box + kMajorBrand;
    for (const BrandRow& row : kBrands) {
        if (memcmp(brand, row.brand, row.length) != 0) continue;
        if (row.fourth != nullptr && (brand[3] == 0 || strchr(row.fourth, brand[3]) == nullptr)) continue;
        return row.type == kByMp4Rule ? Mp4OrTrec(box) : row.type;
    }
    for (const CompatibleRow& row : kCompatible) {
        if (memcmp(brand, row.brand, 4) == 0) return ByCompatibleBrands(box, row.fallback);
    }
    if (memcmp(brand, kMp4Brand, 3) == 0) return ByCompatibleBrands(box, Mp4OrTrec(box));
    return kUndecided;
}

int MovAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !HasFtyp(sector)) return 0;
    const u32 size = ByteReader(sector, kHeader).Be32(kSize).value_or(0);
    if (size < kMovMinFtyp || size > kMovMaxFtyp) return 0;
    RAW_FILE_TYPE type = getTypeByMajorBrand(sector);
    if (type == kUndecided) {
        for (const char* brand : kNotMov) {
            if (strncasecmp(reinterpret_cast<const char*>(sector + kType), brand, 8) == 0) return 0;
        }
        type = RAW_TYPE_MOV;
    }
    m_type = type;
    info.m_type = type;
    return 1;
}

int MovAnalyzer::GetRequiredBits(RequiredBits* tests) const {
    static_assert(kSize == 0 && kType == 4 && kMovMaxFtyp <= 0xFF, "an accepted size fits its lowest byte");
    tests[0] = {kSize, 0xFFFFFFFF00FFFFFF, ByteReader("\0\0\0\0ftyp", 8).Le64(0).value_or(0)};
    return 1;
}

C3GPAnalyser::C3GPAnalyser() : MovAnalyzer(RAW_TYPE_3GP, nullptr) {}

int C3GPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    for (const char* start : k3gpStarts) {
        if (StartsNoCase(sector + kType, start)) {
            info.m_type = RAW_TYPE_3GP;
            return 1;
        }
    }
    return 0;
}

}  // namespace BruteForce

namespace BruteForce {

namespace {

// The top-level boxes the walk follows; any other type ends the file.
constexpr const char* kWalkedBoxes[] = {"ftyp", "free", "skip", "wide", "pnot", "pdin", "uuid", "udta", "trak", "meta",
                                        "meco", "mfra", "moof", "moov", "mvex", "mvhd", "mdat", "MCST", "RCST"};
constexpr u32 kExifSearch = 1024;     // bytes of a "moov" searched for "Exif"
constexpr u32 kMaxIfdEntries = 512;
constexpr u32 kIfdSlack = 100;        // bytes the first IFD needs after its offset
constexpr u32 kTagMake = 271;
constexpr u32 kTagModel = 272;
constexpr u32 kTagDateTime = 306;
constexpr size_t kMaxTagText = 63;
constexpr size_t kMaxMake = 30;
constexpr size_t kMinDate = 10;
constexpr size_t kMaxDate = 40;
constexpr i64 kTrexBefore = 16;       // "trex" is sought from 16 bytes before the current sector
constexpr u32 kTrexSpan = 512;
constexpr i64 kMakeBefore = 1298;     // and the make from 1298 bytes before it, over 1024 bytes
constexpr u32 kMakeSpan = 1024;
constexpr size_t kMakeText = 20;

// Upper-cased (a..z) and filtered; empty when a character other than a letter, digit, space, comma,
// hyphen, full stop, "@" or "_" remains.
std::string CameraText(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    text = CleanRawFileName(std::move(text));
    for (const char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == ',' || c == '-' ||
                        c == '.' || c == '@' || c == '_';
        if (!ok) return {};
    }
    return text;
}

// Text up to its first zero byte, at most limit bytes.
std::string TextOf(const ByteReader& bytes, size_t limit) {
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const u8 c = *bytes.U8(i);
        if (c == 0) break;
        text.push_back(static_cast<char>(c));
    }
    return text;
}

// The first offset of pattern in bytes, or -1.
i64 Find(const ByteReader& bytes, std::string_view pattern) {
    if (bytes.size() < pattern.size()) return -1;
    for (size_t i = 0; i + pattern.size() <= bytes.size(); ++i) {
        if (bytes.Equals(i, pattern)) return static_cast<i64>(i);
    }
    return -1;
}

// The boxes whose size field 1 announces a 64-bit size.
constexpr const char* kLargeBoxes[] = {"mdat", "MCST", "RCST"};

bool OneOf(const ByteReader& header, const char* const* types, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (header.Equals(kType, types[i], 4)) return true;
    }
    return false;
}

}  // namespace

CRawFileInfo* MovAnalyzer::CreateRawFileInfo() { return new MovRawFileInfo(m_type, m_deviceAnalyser); }
CRawFileInfo* C3GPAnalyser::CreateRawFileInfo() { return new MovRawFileInfo(RAW_TYPE_3GP, nullptr); }

MovRawFileInfo::MovRawFileInfo(RAW_FILE_TYPE type, IRawFileAnalyser* deviceAnalyser)
    : m_deviceAnalyser(deviceAnalyser) {
    m_type = type;
}

int MovRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (s < m_startSector) {
        if (m_boxCount == 0) return RAW_SIZE_CONTINUE;
        endSearch(nullptr);
        return RAW_SIZE_FINISHED;
    }
    if (sector == nullptr || n <= 0) return RAW_SIZE_CONTINUE;
    m_sectorSize = n;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    if (m_walked >= w.SectorEnd()) return RAW_SIZE_CONTINUE;
    if (m_walked == 0) {
        const auto head = w.Bytes(0, kMajorBrand + 3);
        m_iso = head && head->Equals(kMajorBrand, "iso", 3);
    }
    // The boxes that start in this sector (or in an earlier one whose header the last call could not
    // read whole because it ran past the block).
    while (m_walked < w.SectorEnd()) {
        const auto header = w.Bytes(m_walked, kHeader);
        if (!header) {
            if (m_walked < w.Begin()) break;  // no longer held: the walk ends here
            return RAW_SIZE_CONTINUE;
        }
        const i64 field = static_cast<i32>(*header->Be32(kSize));
        if (field < kHeader && field != 1) break;
        if (!OneOf(*header, kWalkedBoxes, std::size(kWalkedBoxes))) break;
        i64 size = field;
        if (field == 1 && OneOf(*header, kLargeBoxes, std::size(kLargeBoxes))) {
            const auto large = w.Bytes(m_walked, kLargeHeader);
            if (!large) {
                if (m_walked < w.Begin()) break;
                return RAW_SIZE_CONTINUE;
            }
            const u64 value = *large->Be64(kLargeSize);
            if (value < 1 || value > static_cast<u64>(INT64_MAX - m_walked)) break;
            size = static_cast<i64>(value);
        }
        if (header->Equals(kType, "ftyp", 4) && m_boxCount >= 1) break;  // the next file
        if (header->Equals(kType, "moov", 4)) {
            ++m_moovCount;
            if (m_walked + static_cast<i64>(kExifSearch) <= w.End()) ReadCameraTags(w, m_walked);
        }
        ++m_boxCount;
        m_walked += size;
        m_size = static_cast<u64>(m_walked);
    }
    if (m_walked >= w.SectorEnd()) return RAW_SIZE_CONTINUE;
    endSearch(&w);
    return RAW_SIZE_FINISHED;
}

void MovRawFileInfo::SetMake(const std::string& make) {
    m_cameraMake = make;
    SetRawFileTagAndValue(RAW_TAG_MOVIE, make);
}

void MovRawFileInfo::ReadCameraTags(const StreamWindow& w, i64 offset) {
    const auto moov = w.Bytes(offset, kExifSearch);
    if (!moov) return;
    const i64 exif = Find(*moov, "Exif");
    if (exif < 0) return;
    // The TIFF header follows "Exif" (and the two zero bytes that usually pad it).
    i64 tiffAt = offset + exif + 4;
    if (const auto pad = w.Bytes(tiffAt, 2); pad && *pad->U8(0) == 0 && *pad->U8(1) == 0) tiffAt += 2;
    const ByteReader tiff = w.From(tiffAt);
    ByteOrder order;
    if (tiff.Equals(0, "II")) {
        order = ByteOrder::Little;
    } else if (tiff.Equals(0, "MM")) {
        order = ByteOrder::Big;
    } else {
        return;
    }
    const auto first = tiff.U32(4, order);
    if (!first || !tiff.Has64(*first, kIfdSlack)) return;
    const u32 count = tiff.U16(*first, order).value_or(0);
    if (count < 1 || count > kMaxIfdEntries || !tiff.Has64(u64{*first} + 2, u64{count} * 12)) return;
    std::string make;
    std::string model;
    for (u32 i = 0; i < count; ++i) {
        const u64 entry = u64{*first} + 2 + u64{i} * 12;
        const u16 tag = *tiff.U16(entry, order);
        if (tag != kTagMake && tag != kTagModel && tag != kTagDateTime) continue;
        const u32 length = *tiff.U32(entry + 4, order);
        const u64 at = length <= 4 ? entry + 8 : u64{*tiff.U32(entry + 8, order)};
        if (!tiff.Has64(at, length)) continue;
        const std::string text = TextOf(*tiff.Sub(at, length), kMaxTagText);
        if (tag == kTagMake) make = CameraText(text);
        if (tag == kTagModel) model = CameraText(text);
        if (tag == kTagDateTime && text.size() >= kMinDate && text.size() <= kMaxDate) SetRawFileTime(text);
    }
    if (!make.empty() && make.size() <= kMaxMake) SetMake(make);
    if (!model.empty()) {
        if (m_cameraMake.empty()) {
            SetMake(model);
        } else {
            m_tagName = model;
        }
    }
}

void MovRawFileInfo::FindMakeText(const StreamWindow* w) {
    ByteReader near;
    ByteReader wide;
    if (w != nullptr) {
        const i64 from = std::max(w->SectorStart() - kTrexBefore, w->Begin());
        near = w->Bytes(from, kTrexSpan).value_or(w->From(from));
        if (const auto before = w->Bytes(w->SectorStart() - kMakeBefore, kMakeSpan)) wide = *before;
    } else if (m_lastSector != nullptr) {
        near = ByteReader(m_lastSector, static_cast<size_t>(m_sectorSize));
    }
    if (Find(near, "trex") < 0) return;
    const ByteReader& area = wide.empty() ? near : wide;
    for (const char* device : {"iPhone ", "iPad "}) {
        const i64 at = Find(area, device);
        if (at < 0) continue;
        const std::string make = CameraText(TextOf(area.From(static_cast<size_t>(at)), kMakeText));
        if (!make.empty()) SetMake(make);
        return;
    }
}

void MovRawFileInfo::WillBeRemove(unsigned char* sector, long long) {
    m_lastSector = sector;
    if (!m_ended) endSearch(nullptr);
    m_lastSector = nullptr;
    m_analyser = m_deviceAnalyser;
}

void MovRawFileInfo::endSearch(const StreamWindow* w) {
    m_ended = true;
    if (m_boxCount < kMinBoxes) {
        m_size = 0;
        return;
    }
    if (m_type == RAW_TYPE_MOV && m_moovCount == 1 && m_iso) {
        m_type = RAW_TYPE_MP4;
    } else if (m_cameraMake.empty()) {
        FindMakeText(w);
    }
    if (!m_tagName.empty()) SetRawFileName(m_tagName);
    if (m_cameraMake.empty()) m_tagKind = RAW_TAG_NONE;
    m_size = static_cast<u64>(m_walked);
}

}  // namespace BruteForce

IRawFileAnalyser* CreateMovAnalyzer() { return new BruteForce::MovAnalyzer(); }
IRawFileAnalyser* CreateC3GPAnalyser() { return new BruteForce::C3GPAnalyser(); }
