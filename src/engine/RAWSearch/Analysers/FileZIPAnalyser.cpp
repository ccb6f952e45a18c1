#include "engine/RAWSearch/Analysers/FileZIPAnalyser.h"

#include <strings.h>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/IconvText.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace zip_layout;

namespace {

// The device walk follows blocks up to this offset.
constexpr u64 kDeviceWalkLimit = 0x104000000ULL;
// The end of an archive is looked for in zero-padded sectors up to this offset.
constexpr u64 kEndSearchLimit = 0xC800000ULL;
// GetProbablySize looks no further.
constexpr u64 kProbableEndLimit = 0xD000000ULL;
constexpr u64 kUnit = 512;
// Bytes after a local header's name that the kind rules may look at.
constexpr u64 kDataWindow = 1024;
// The guess walk reads a local header once its name and this many bytes after it are held.
constexpr u64 kGuessDataWindow = 256;
constexpr size_t kTagTextBytes = 20;

std::string NameAt(const ByteReader& header) {
    const u16 length = header.Le16(kLocalNameLength).value_or(0);
    const std::optional<std::span<const u8>> bytes = header.Bytes(kLocalHeaderSize, length);
    // The name as far as it is held (a first sector holds at least 482 bytes of it).
    const size_t held = bytes ? length : header.size() > kLocalHeaderSize ? header.size() - kLocalHeaderSize : 0;
    return std::string(reinterpret_cast<const char*>(header.data()) + std::min(header.size(), kLocalHeaderSize),
                       std::min<size_t>(held, length));
}

bool IsLocalHeader(const ByteReader& header) { return header.Le32(kSignature) == kLocalSignature; }

bool BeginsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The block at offset of the file, with the bytes after its name that the kind rules look at: as many
// as can be read (the fixed header at least).
bool ReadBlockBytes(RawFileBuffer& file, u64 offset, std::vector<unsigned char>& out) {
    static constexpr size_t kFixed[] = {kCentralHeaderSize, kLocalHeaderSize, kEndSize, kZip64LocatorSize};
    size_t fixed = 0;
    for (size_t want : kFixed) {
        out.assign(want, 0);
        if (file.CopyOut(offset, out.data(), want)) {
            fixed = want;
            break;
        }
    }
    if (fixed == 0) return false;
    const ByteReader head(out.data(), fixed);
    u64 nameLength = 0, headerSize = 0;
    if (head.Le32(kSignature) == kLocalSignature && head.Has(0, kLocalHeaderSize)) {
        nameLength = *head.Le16(kLocalNameLength);
        headerSize = kLocalHeaderSize;
    } else if (head.Le32(kSignature) == kCentralSignature && head.Has(0, kCentralHeaderSize)) {
        nameLength = *head.Le16(kCentralNameLength);
        headerSize = kCentralHeaderSize;
    } else {
        return true;
    }
    for (u64 want : {headerSize + nameLength + kDataWindow, headerSize + nameLength}) {
        if (want <= fixed) break;
        std::vector<unsigned char> more(want);
        if (file.CopyOut(offset, more.data(), want)) {
            out.swap(more);
            break;
        }
    }
    return true;
}

}  // namespace

bool FileZIPAnalyser::ZipIpaFileType(const ByteReader& header) {
    if (!IsLocalHeader(header)) return false;
    return classZipSearch::IsIpaEntryName(NameAt(header));
}

void FileZIPAnalyser::JudgeMaybeOfficeType(const ByteReader& header) {
    m_office = false;
    m_drawing = false;
    if (!IsLocalHeader(header)) return;
    const std::string name = NameAt(header);
    if (name == "[Content_Types].xml" || name == "docProps/app.xml" || name == "Categories.xml" ||
        name.find("doc") != std::string::npos || name.find("ppt") != std::string::npos) {
        m_office = true;
    } else if (name == "content/riffData.cdr") {
        m_drawing = true;
    }
}

void FileZIPAnalyser::JudgeMaybeOfficeType(const ByteReader& header, bool& office, bool& drawing) {
    office = false;
    drawing = false;
    if (!IsLocalHeader(header)) return;
    const std::string name = NameAt(header);
    for (const char* first :
         {"[Content_Types].xml", "docProps/app.xml", "word/theme/theme1.xml", "_rels/.rels", "Categories.xml"}) {
        if (BeginsWith(name, first)) {
            office = true;
            return;
        }
    }
    drawing = BeginsWith(name, "content/riffData.cdr");
}

int FileZIPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr) return 0;
    info.m_type = ZipIpaFileType(ByteReader(sector, 512)) ? RAW_TYPE_IPA : RAW_TYPE_ZIP;
    return 1;
}

CRawFileInfo* FileZIPAnalyser::CreateRawFileInfo() { return new ZIPRawFileInfo(); }

u64 FileZIPAnalyser::GetProbablySize(u64 offset, RawFileBuffer& file) {
    u64 at = offset;
    unsigned char unit[kUnit + kEndSize];
    while (at <= kProbableEndLimit) {
        if (!file.CopyOut(at, unit, kUnit)) return at;
        const ByteReader bytes(unit, kUnit);
        if (*bytes.Le32(kUnit - 4) == 0) {
            for (u64 i = 0; i + 4 <= kUnit; ++i) {
                if (bytes.Le32(i) != kEndSignature) continue;
                // The record's comment length may lie past the unit.
                if (!file.CopyOut(at + i, unit, kEndSize)) return at;
                return at + i + kEndSize + *ByteReader(unit, kEndSize).Le16(kEndCommentLength);
            }
        }
        at += kUnit;
    }
    return at;
}

bool FileZIPAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    info.m_size = 0;
    if (device == nullptr) return false;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    std::vector<unsigned char> bytes;
    if (!ReadBlockBytes(file, 0, bytes)) return false;
    ByteReader block(bytes.data(), bytes.size());
    u32 type = ZipIpaFileType(block) ? RAW_TYPE_IPA : RAW_TYPE_ZIP;
    if (!classZipSearch::IsValidHeader(block)) return false;
    JudgeMaybeOfficeType(block);
    std::string name, lastName;
    u64 blockSize = 0;
    if (!classZipSearch::GetBlockSize(block, &blockSize, classZipSearch::Walk::Device, m_office, type, name)) {
        return false;
    }
    if (IsLocalHeader(block)) lastName = name;
    u64 offset = blockSize;
    while (offset <= kDeviceWalkLimit) {
        if (!ReadBlockBytes(file, offset, bytes)) break;
        block = ByteReader(bytes.data(), bytes.size());
        if (!classZipSearch::IsValidHeader(block)) break;
        if (!classZipSearch::GetBlockSize(block, &blockSize, classZipSearch::Walk::Device, m_office, type, name)) {
            break;
        }
        if (IsLocalHeader(block)) lastName = name;
        // Both size words zero: the sizes follow the data, so the end is looked for instead.
        if (block.Le32(kLocalCompressedSize).value_or(0) == 0 && block.Le32(kLocalUncompressedSize).value_or(0) == 0) {
            offset = GetProbablySize(offset, file);
            break;
        }
        if (__builtin_add_overflow(offset, blockSize, &offset)) break;
    }
    if (m_drawing && !m_office) type = RAW_TYPE_CDR;

    // The archive's last sector ends in zeros: the walk's end is the file's. Otherwise the file ends
    // where a sector first ends in 16 zero bytes.
    const u64 sectorSize = file.GetSectorSize();
    const u64 aligned = offset - offset % sectorSize;
    u64 size = aligned;
    if (const unsigned char* sector = file.GetRawFileBuffer(aligned)) {
        if (*ByteReader(sector, sectorSize).Le32(sectorSize - 4) == 0) {
            size = offset;
        } else if (aligned <= kEndSearchLimit) {
            static constexpr unsigned char kZero16[16] = {};
            for (u64 at = aligned;; at += sectorSize) {
                const unsigned char* p = at > kEndSearchLimit ? nullptr : file.GetRawFileBuffer(at);
                if (p == nullptr) {
                    size = at;
                    break;
                }
                if (memcmp(p + sectorSize - 16, kZero16, 16) == 0) {
                    size = at + sectorSize - 16;
                    break;
                }
            }
        }
    }
    info.m_type = type;
    info.m_size = size;
    info.SetRawFileName(lastName);
    return true;
}

// The guessing record.

void FileZIPAnalyser::ZIPRawFileInfo::Finish(u64 size) {
    m_finished = true;
    m_size = size;
}

FileZIPAnalyser::ZIPRawFileInfo::Block FileZIPAnalyser::ZIPRawFileInfo::CheckZIPBlock(const StreamWindow& window) {
    const i64 at = static_cast<i64>(m_nextBlock);
    const ByteReader block = window.From(at);
    const bool toTheEnd = at >= window.Begin() && at < window.End();
    if (!toTheEnd) return at >= window.End() ? Block::NotInHand : Block::GiveUp;
    const std::optional<u32> signature = block.Le32(kSignature);
    if (!signature) return Block::NotInHand;
    // A header, its name and (for a local header) the first bytes of its data are read together.
    u64 needed = 4;
    if (*signature == kLocalSignature) {
        needed = kLocalHeaderSize;
        if (const std::optional<u16> n = block.Le16(kLocalNameLength)) needed += *n + kGuessDataWindow;
    } else if (*signature == kCentralSignature) {
        needed = kCentralHeaderSize;
        if (const std::optional<u16> n = block.Le16(kCentralNameLength)) needed += *n;
    } else if (*signature == kEndSignature) {
        needed = kEndSize;
    }
    if (block.size() < needed) return Block::NotInHand;
    if (!classZipSearch::IsValidHeader(block)) return Block::Invalid;
    std::string name;
    u64 size = 0;
    u16 flags = 0;
    int metadataFound = 0;
    tagZipLocalFileHeader header;
    if (!classZipSearch::GetBlockSize(block, &size, classZipSearch::Walk::Guess, m_office, m_typeFound, name, &flags,
                                      &metadataFound, &header)) {
        // A valid header this walk cannot read (a name over 1024 bytes, a Zip64 size it cannot find).
        return Block::GiveUp;
    }
    if (*signature == kLocalSignature) m_sizesInHeader = flags != kSizesBehindData && flags != kSizesBehindDataUtf8;
    if (!name.empty() && !m_entryNamed) {
        m_entryNamed = true;
        m_firstEntryHasSizes = m_sizesInHeader;
        m_tagValue = CutUtf8(name, kTagTextBytes);
        m_time.clear();
    }
    if (m_typeFound != RAW_TYPE_ZIP) m_type = m_typeFound;
    if (metadataFound != 0 && !m_tagFound) {
        const Brance::OfficeTagFromXML::Result read = m_metadata.GetOfficeTagFromXML(window, at, header, m_properties);
        if (read == Brance::OfficeTagFromXML::Result::Read) {
            m_tagFound = true;
        } else if (read == Brance::OfficeTagFromXML::Result::NotInHand && !m_metadataPending) {
            m_metadataPending = true;
            m_metadataOffset = at;
            m_metadataHeader = header;
        }
    }
    if (__builtin_add_overflow(m_nextBlock, size, &m_nextBlock)) return Block::GiveUp;
    return Block::Read;
}

void FileZIPAnalyser::ZIPRawFileInfo::Walk(const StreamWindow& window) {
    while (!m_finished && !m_walkStopped && static_cast<i64>(m_nextBlock) < window.SectorEnd()) {
        switch (CheckZIPBlock(window)) {
            case Block::Read:
                m_walkEnd = m_nextBlock;
                // Sizes behind the data: the next block cannot be found from here.
                if (!m_sizesInHeader) m_walkStopped = true;
                continue;
            case Block::NotInHand: return;
            case Block::Invalid: Finish(m_walkEnd); return;
            case Block::GiveUp: Finish(0); return;
        }
    }
}

void FileZIPAnalyser::ZIPRawFileInfo::ReadPendingMetadata(const StreamWindow& window) {
    if (!m_metadataPending || m_tagFound) return;
    const Brance::OfficeTagFromXML::Result read =
        m_metadata.GetOfficeTagFromXML(window, m_metadataOffset, m_metadataHeader, m_properties);
    if (read == Brance::OfficeTagFromXML::Result::NotInHand) return;
    m_metadataPending = false;
    m_tagFound = read == Brance::OfficeTagFromXML::Result::Read;
}

void FileZIPAnalyser::ZIPRawFileInfo::LookForEndRecord(const StreamWindow& window, u32 trailingZeroBytes) {
    if (trailingZeroBytes < 17) return;
    const ByteReader sector = window.Sector();
    const size_t dataEnd = sector.size() - std::min<size_t>(trailingZeroBytes, sector.size());
    // The last "PK" before the zeros.
    for (size_t at = dataEnd; at-- > 1;) {
        if (sector.data()[at - 1] != 'P' || sector.data()[at] != 'K') continue;
        const size_t pk = at - 1;
        const u64 offset = static_cast<u64>(window.SectorStart()) + pk;
        const std::optional<u16> kind = sector.Le16(pk + 2);
        if (kind == 0x0605) {
            Finish(offset + kEndSize);
        } else if (kind == 0x0201) {
            m_size = offset + 48;
            if (trailingZeroBytes > 21) m_finished = true;
        }
        return;
    }
}

bool FileZIPAnalyser::ZIPRawFileInfo::FindOwnEndRecord(const StreamWindow& window) {
    const i64 first = std::max<i64>(window.Begin(), window.SectorStart() - static_cast<i64>(kEndSize - 1));
    const i64 last = window.SectorEnd() - static_cast<i64>(kEndSize);
    if (last < first) return false;
    const ByteReader held = window.From(first);
    const size_t span = static_cast<size_t>(last - first) + 1;
    if (held.size() < span) return false;
    const unsigned char* base = held.data();
    for (const unsigned char* p = base;
         (p = static_cast<const unsigned char*>(memchr(p, 'P', span - static_cast<size_t>(p - base)))) != nullptr;
         ++p) {
        const u64 offset = static_cast<u64>(p - base);
        const std::optional<ByteReader> record = held.Sub(offset, kEndSize);
        if (!record || record->Le32(kSignature) != kEndSignature) continue;
        const u64 directorySize = *record->Le32(kEndDirectorySize);
        const u64 directoryOffset = *record->Le32(kEndDirectoryOffset);
        const u64 at = static_cast<u64>(first) + offset;
        if (directorySize == 0 || directoryOffset + directorySize != at) continue;
        Finish(at + kEndSize + *record->Le16(kEndCommentLength));
        return true;
    }
    return false;
}

void FileZIPAnalyser::ZIPRawFileInfo::JudeOleType(const unsigned char* sector, int length) {
    if (sector == nullptr || length <= 0) return;
    const unsigned char* end = sector + length;
    for (const unsigned char* p = sector; p < end;) {
        p = static_cast<const unsigned char*>(memchr(p, 0, static_cast<size_t>(end - p)));
        if (p == nullptr) return;
        const size_t left = static_cast<size_t>(end - p) - 1;
        if (left >= 5 && memcmp(p + 1, "word/", 5) == 0) {
            m_type = RAW_TYPE_DOCX;
            return;
        }
        if (left >= 4 && memcmp(p + 1, "ppt/", 4) == 0) {
            m_type = RAW_TYPE_PPTX;
            return;
        }
        if (left >= 3 && memcmp(p + 1, "xl/", 3) == 0) {
            m_type = RAW_TYPE_XLSX;
            return;
        }
        ++p;
    }
}

int FileZIPAnalyser::ZIPRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                                  SearchContext& ctx) {
    if (m_finished) return RAW_SIZE_FINISHED;
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow window(sector, sectorSize, sectorNumber, m_startSector, ctx);
    if (static_cast<u64>(window.SectorStart()) > 20 * m_cap) {
        m_finished = true;
        m_size = m_cap;
        SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
        return RAW_SIZE_FINISHED;
    }
    if (window.SectorStart() == 0) {
        if (!classZipSearch::IsValidHeader(window.Sector())) {
            Finish(0);
            return RAW_SIZE_FINISHED;
        }
        bool drawing = false;
        FileZIPAnalyser::JudgeMaybeOfficeType(window.Sector(), m_office, drawing);
        if (m_office) m_cap = kOfficeCap;
        if (drawing) m_type = RAW_TYPE_CDR;
    }
    Walk(window);
    ReadPendingMetadata(window);
    // Where the walk cannot follow the blocks (sizes behind the data), an IPA, or an archive whose first
    // entry had no sizes, the end record in a zero-padded sector ends the file.
    if (!m_finished && (!m_firstEntryHasSizes || m_walkStopped || m_type == RAW_TYPE_IPA)) {
        if (!FindOwnEndRecord(window)) LookForEndRecord(window, ctx.trailingZeroBytes);
        if (m_office) JudeOleType(sector, sectorSize);
    }
    if (!m_finished) return RAW_SIZE_CONTINUE;
    if (sectorNumber - m_startSector >= 2) FillFileInfo(sectorNumber);
    return RAW_SIZE_FINISHED;
}

bool FileZIPAnalyser::ZIPRawFileInfo::OwnsStart(const unsigned char* sector, int sectorSize,
                                                long long sectorNumber) const {
    if (m_finished || sector == nullptr || sectorSize <= 0 || sectorNumber <= m_startSector) return false;
    if (ByteReader(sector, static_cast<size_t>(sectorSize)).Le32(kSignature) != kLocalSignature) return false;
    const u64 offset = static_cast<u64>(sectorNumber - m_startSector) * static_cast<u64>(sectorSize);
    return offset == m_nextBlock || m_walkStopped || (m_entryNamed && !m_firstEntryHasSizes);
}

void FileZIPAnalyser::ZIPRawFileInfo::WillBeRemove(unsigned char*, long long sectorNumber) {
    if (sectorNumber >= m_startSector) FillFileInfo(sectorNumber);
}

void FileZIPAnalyser::ZIPRawFileInfo::FillFileInfo(long long sectorNumber) {
    if (m_tagFound && m_office) {
        const FileProperty& p = m_properties;
        const std::string& person = !p.lastAuthor.empty() ? p.lastAuthor : !p.author.empty() ? p.author : "unKnown";
        if (!p.modified.empty()) SetRawFileTime(p.modified);
        const std::string& first = !p.title.empty() ? p.title : !p.lastAuthor.empty() ? p.lastAuthor : p.author;
        std::string base;
        if (!first.empty()) {
            const std::string cut = first.size() >= 25 ? CutUtf8(first, 24) : first;
            base = p.modified.empty() ? cut : cut + "_" + p.modified;
        } else {
            base = !p.modified.empty() ? p.modified : p.created;
        }
        if (m_type >= RAW_TYPE_DOCX && m_type <= RAW_TYPE_PPTX) SetRawFileTagAndValue(RAW_TAG_OFFICE, person);
        if (!base.empty()) SetRawFileName(m_tagValue.empty() ? base : m_tagValue + "_" + base);
    } else {
        m_tagValue.clear();
        SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    }
}

IRawFileAnalyser* CreateFileZIPAnalyser() { return new FileZIPAnalyser(); }
