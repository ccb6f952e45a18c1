#include "engine/RAWSearch/Core/RawAnalyserLookup.h"

#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

RawAnalyserLookup::RawAnalyserLookup(RawAnalyserMap& map, RawAnalyserMultimap& multimap, RawAnalyserList& list)
    : m_map(map), m_multimap(multimap), m_list(list), m_prefixes(std::make_unique<std::bitset<65536>>()) {
    for (const auto& entry : m_map) m_prefixes->set(entry.first & 0xFFFF);
    for (const auto& entry : m_multimap) m_prefixes->set(entry.first);
    for (IRawFileAnalyser* analyser : m_list) {
        ListEntry entry{analyser, false, 0, 0};
        u32 value = 0;
        entry.hasWord = analyser->GetRequiredWord(entry.offset, value) && entry.offset <= 512 - 4;
        const auto host = [](u32 v) { return std::endian::native == std::endian::little ? v : __builtin_bswap32(v); };
        entry.hostValue = host(value);
        IRawFileAnalyser::MaskedWord either[2];
        if (!entry.hasWord && analyser->GetEitherWord(either[0], either[1]) && either[0].offset <= 512 - 4 &&
            either[1].offset <= 512 - 4) {
            entry.hasEither = true;
            for (int k = 0; k < 2; ++k) {
                entry.eitherOffset[k] = either[k].offset;
                entry.eitherMask[k] = host(either[k].mask);
                entry.eitherValue[k] = host(either[k].value) & entry.eitherMask[k];
            }
        }
        m_listEntries.push_back(entry);
    }
}

namespace {

int Ask(IRawFileAnalyser* analyser, unsigned char* sector, CRawFileInfo& info, long long sectorSize,
        long long sectorNumber, long long bufferStartSector, long long blockEndSector) {
    info.Reset();
    if (ISpecialRawFileAnalyser* special = analyser->GetSpecialRawFile()) {
        return special->AnalyseBufferEx(sector, info, sectorSize, sectorNumber, bufferStartSector, blockEndSector) != 0
                   ? 1
                   : 0;
    }
    return analyser->AnalyseBuffer(sector, info) == 1 ? 1 : 0;
}

}  // namespace

IRawFileAnalyser* RawAnalyserLookup::Find(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                          long long sectorNumber, long long bufferStartSector,
                                          long long blockEndSector, bool sectorAllZero) const {
    const u32 key4 = RawMapKey(sector);
    if (key4 != 0 && m_prefixes->test(key4 & 0xFFFF)) {
        auto it = m_map.find(key4);
        if (it != m_map.end() &&
            Ask(it->second, sector, info, sectorSize, sectorNumber, bufferStartSector, blockEndSector) != 0) {
            return it->second;
        }
        auto range = m_multimap.equal_range(static_cast<u16>(key4 & 0xFFFF));
        for (auto m = range.first; m != range.second; ++m) {
            if (Ask(m->second, sector, info, sectorSize, sectorNumber, bufferStartSector, blockEndSector) != 0) {
                return m->second;
            }
        }
    }
    if (sectorAllZero) return nullptr;
    for (const ListEntry& entry : m_listEntries) {
        if (entry.hasWord) {
            u32 word;
            memcpy(&word, sector + entry.offset, sizeof(word));
            if (word != entry.hostValue) continue;
        } else if (entry.hasEither && !HoldsEither(entry, sector)) {
            continue;
        }
        info.Reset();
        if (entry.analyser->AnalyseBuffer(sector, info) != 0) return entry.analyser;
    }
    return nullptr;
}
