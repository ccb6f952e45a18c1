// The process-wide analyser tables, in two independent sets: set 0 serves the signature search and is
// rebuilt at the start of every search; set 1 is built once and serves the FAT deep search.
#pragma once

#include <list>
#include <map>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/RAWSearch/Core/RawFileTypes.h"

class IRawFileAnalyser;
class IRecoveryFilter;

using RawAnalyserList = std::list<IRawFileAnalyser*>;
using RawAnalyserMap = std::map<u32, IRawFileAnalyser*>;
using RawAnalyserMultimap = std::multimap<u16, IRawFileAnalyser*>;

class CRawFileAnalyserListSingle {
public:
    static CRawFileAnalyserListSingle* CreateInstance();

    RawAnalyserList& GetAnalyserList(int set) { return set != 0 ? m_list1 : m_list0; }
    RawAnalyserMap& GetAnalyserMap(int set) { return set != 0 ? m_map1 : m_map0; }
    RawAnalyserMultimap& GetAnalyserMultimap(int set) { return set != 0 ? m_multimap1 : m_multimap0; }

    // Clears set 0 (deleting its analysers) and builds it again; every type is always searched, the
    // filter acts on the results.
    void ReinitAnalyzeList(IRecoveryFilter* filter);

    static void BuildRawFileAnalyserMap(RawAnalyserMap& map);
    static void BuildRawFileListMultimap(RawAnalyserMultimap& multimap);
    static void BuildRawFileAnalyserList(RawAnalyserList& list);
    static void ClearMapContents(RawAnalyserMap& map);
    static void ClearMultiMapContents(RawAnalyserMultimap& multimap);
    static void ClearListContents(RawAnalyserList& list);
    static void BuildRawFileAnalyserListByFileType(RawAnalyserList& list, std::vector<RAW_FILE_TYPE>* types);
    static void CraetePartRawFileAnalyser(RAW_FILE_TYPE type, RawAnalyserList& list);

    CRawFileAnalyserListSingle(const CRawFileAnalyserListSingle&) = delete;
    CRawFileAnalyserListSingle& operator=(const CRawFileAnalyserListSingle&) = delete;

private:
    CRawFileAnalyserListSingle();
    ~CRawFileAnalyserListSingle();

    RawAnalyserList m_list0;
    RawAnalyserMap m_map0;
    RawAnalyserMultimap m_multimap0;
    RawAnalyserList m_list1;
    RawAnalyserMap m_map1;
    RawAnalyserMultimap m_multimap1;
};
