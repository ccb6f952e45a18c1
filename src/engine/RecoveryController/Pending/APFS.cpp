// Stand-in until the APFS deep scan is built: it finds nothing. Delete this file when the real
// factory lands (a second definition then fails the link, so none is forgotten).
#include "engine/RecoveryController/SearcherFactories.h"

ICompleteFileSystemSearchController* CreateAPFSDeepSearcher() { return nullptr; }
