// Stand-ins until the exFAT search is built: its factories find nothing. Delete this file when the
// real factories land (a second definition then fails the link, so none is forgotten).
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

IQuickFileSystemSearchController* CreateEXFatQuickSearcher() { return nullptr; }
ICompleteFileSystemSearchController* CreateEXFatSearcher() { return nullptr; }
IVolumeAnalyze* CreateExfatVolumeAnalyze(IStorageDevice*, u64) { return nullptr; }
