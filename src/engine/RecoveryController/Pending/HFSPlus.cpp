// Stand-ins until the HFS+ search is built: its factories find nothing. Delete this file when the
// real factories land (a second definition then fails the link, so none is forgotten).
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

IQuickFileSystemSearchController* CreateHFSPlusQuickSearcher() { return nullptr; }
ICompleteFileSystemSearchController* CreateHFSPlusSearcher() { return nullptr; }
IVolumeAnalyze* CreateHFSPlusVolumeAnalyze(IStorageDevice*, u64) { return nullptr; }
