// Stand-ins until the NTFS search is built: its factories find nothing. Delete this file when the
// real factories land (a second definition then fails the link, so none is forgotten).
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

IQuickFileSystemSearchController* CreateNTFSQuickSearcher() { return nullptr; }
ICompleteFileSystemSearchController* CreateNTFSSearcher() { return nullptr; }
IVolumeAnalyze* CreateNTFSVolumeAnalyze(IStorageDevice*, u64) { return nullptr; }

