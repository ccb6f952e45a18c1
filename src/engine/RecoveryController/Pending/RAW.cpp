// Stand-ins until the raw signature search is built: its factories find nothing. Delete this file when the
// real factories land (a second definition then fails the link, so none is forgotten).
#include "engine/RecoveryController/SearcherFactories.h"

ICompleteFileSystemSearchController* CreateRAWSearcher() { return nullptr; }
