// The lookup of an analyser for one sector over the three tables of one set, in their order: the map
// by the first four bytes, the multimap by the first two, then the list. A table of the two-byte
// prefixes that any key starts with lets most sectors skip both ordered tables.
#pragma once

#include <bitset>
#include <memory>

#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"

class CRawFileInfo;

class RawAnalyserLookup {
public:
    RawAnalyserLookup(RawAnalyserMap& map, RawAnalyserMultimap& multimap, RawAnalyserList& list);

    bool Empty() const { return m_map.empty() && m_multimap.empty() && m_list.empty(); }
    bool ListEmpty() const { return m_list.empty(); }

    // The analyser that accepts the sector, or null. info is reset before each analyser is asked.
    // sectorAllZero lets an all-zero sector skip the list (every list analyser needs non-zero bytes).
    IRawFileAnalyser* Find(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                           long long bufferStartSector, long long blockEndSector, bool sectorAllZero) const;

private:
    RawAnalyserMap& m_map;
    RawAnalyserMultimap& m_multimap;
    RawAnalyserList& m_list;
    std::unique_ptr<std::bitset<65536>> m_prefixes;
};
