// Stand-ins until the APFS search is built: its factories find nothing. Delete this file when the
// real factories land (a second definition then fails the link, so none is forgotten).
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

ICompleteFileSystemSearchController* CreateAPFSDeepSearcher() { return nullptr; }
IVolumeAnalyze* CreateAPFSVolumeAnalyze(IStorageDevice*, u64) { return nullptr; }
