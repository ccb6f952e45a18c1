#include "engine/RecoveryController/SearcherFactories.h"

SearcherFactories& Searchers() {
    static SearcherFactories table;
    return table;
}

IQuickFileSystemSearchController* CreateAPFSQuickSearcher() { return nullptr; }
