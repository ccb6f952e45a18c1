// Stand-ins until the FAT search is built: its factories find nothing. Delete this file when the
// real factories land (a second definition then fails the link, so none is forgotten).
#include <new>

#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

IQuickFileSystemSearchController* CreateFATQuickSearcher() { return nullptr; }
ICompleteFileSystemSearchController* CreateFATSearcher() { return nullptr; }
// The FAT analyser is never null: it answers "not recognised".
IVolumeAnalyze* CreateFatVolumeAnalyze(IStorageDevice*, u64) { return new (std::nothrow) CUnrecognisedVolumeAnalyze; }
