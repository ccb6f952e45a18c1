#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"

#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

CRawFileAnalyserListSingle* CRawFileAnalyserListSingle::CreateInstance() {
    static CRawFileAnalyserListSingle instance;
    return &instance;
}

CRawFileAnalyserListSingle::CRawFileAnalyserListSingle() {
    BuildRawFileAnalyserMap(m_map1);
    BuildRawFileListMultimap(m_multimap1);
    BuildRawFileAnalyserList(m_list1);
}

CRawFileAnalyserListSingle::~CRawFileAnalyserListSingle() {
    ClearMapContents(m_map0);
    ClearMultiMapContents(m_multimap0);
    ClearListContents(m_list0);
    ClearMapContents(m_map1);
    ClearMultiMapContents(m_multimap1);
    ClearListContents(m_list1);
}

void CRawFileAnalyserListSingle::ReinitAnalyzeList(IRecoveryFilter*) {
    ClearMapContents(m_map0);
    ClearMultiMapContents(m_multimap0);
    ClearListContents(m_list0);
    BuildRawFileAnalyserMap(m_map0);
    BuildRawFileListMultimap(m_multimap0);
    BuildRawFileAnalyserList(m_list0);
}

void CRawFileAnalyserListSingle::BuildRawFileAnalyserMap(RawAnalyserMap& map) {
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (row.kind != RawTableKind::Map || row.create == nullptr) continue;
        IRawFileAnalyser*& slot = map[RawMapKey(reinterpret_cast<const unsigned char*>(row.key))];
        delete slot;  // a key inserted twice keeps the later analyser
        slot = row.create();
    }
}

void CRawFileAnalyserListSingle::BuildRawFileListMultimap(RawAnalyserMultimap& multimap) {
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (row.kind != RawTableKind::Multimap || row.create == nullptr) continue;
        multimap.emplace(RawMultimapKey(reinterpret_cast<const unsigned char*>(row.key)), row.create());
    }
}

void CRawFileAnalyserListSingle::BuildRawFileAnalyserList(RawAnalyserList& list) {
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (row.kind != RawTableKind::List || row.create == nullptr) continue;
        list.push_back(row.create());
    }
}

void CRawFileAnalyserListSingle::ClearMapContents(RawAnalyserMap& map) {
    for (auto& entry : map) delete entry.second;
    map.clear();
}

void CRawFileAnalyserListSingle::ClearMultiMapContents(RawAnalyserMultimap& multimap) {
    for (auto& entry : multimap) delete entry.second;
    multimap.clear();
}

void CRawFileAnalyserListSingle::ClearListContents(RawAnalyserList& list) {
    for (IRawFileAnalyser* analyser : list) delete analyser;
    list.clear();
}

void CRawFileAnalyserListSingle::BuildRawFileAnalyserListByFileType(RawAnalyserList& list,
                                                                    std::vector<RAW_FILE_TYPE>* types) {
    if (types == nullptr || types->empty()) {
        for (RAW_FILE_TYPE type = 1; type <= kRawFileTypeFilled; ++type) CraetePartRawFileAnalyser(type, list);
        return;
    }
    for (RAW_FILE_TYPE type : *types) CraetePartRawFileAnalyser(type, list);
}

void CRawFileAnalyserListSingle::CraetePartRawFileAnalyser(RAW_FILE_TYPE type, RawAnalyserList& list) {
    // The device analysers this builder knows: 26 FileEMFAnalyser, 36 FileLZHAnalyser, 116 FileEMLXAnalyser.
    struct PartRow {
        RAW_FILE_TYPE type;
        IRawFileAnalyser* (*create)();
    };
    static constexpr PartRow kRows[] = {{26, CreateFileEMFAnalyser}, {36, nullptr}, {116, nullptr}};
    for (const PartRow& row : kRows) {
        if (row.type == type && row.create != nullptr) list.push_back(row.create());
    }
}
