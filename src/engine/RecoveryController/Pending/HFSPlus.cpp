// Stand-in until the deep HFS+ search is built: it finds nothing. Delete this file when the real
// factory lands (a second definition then fails the link, so none is forgotten).
#include "engine/RecoveryController/SearcherFactories.h"

ICompleteFileSystemSearchController* CreateHFSPlusSearcher() { return nullptr; }
