// The searchers of each file system, and the table through which the recovery controllers reach
// them. The table holds the real factories; tests swap in fakes and put the old table back.
#pragma once

class IQuickFileSystemSearchController;
class ICompleteFileSystemSearchController;

// Quick searchers (one intact volume). Each returns a new searcher, or null.
IQuickFileSystemSearchController* CreateFATQuickSearcher();
IQuickFileSystemSearchController* CreateEXFatQuickSearcher();
IQuickFileSystemSearchController* CreateNTFSQuickSearcher();
IQuickFileSystemSearchController* CreateHFSPlusQuickSearcher();
// APFS volumes have no quick search: always null.
IQuickFileSystemSearchController* CreateAPFSQuickSearcher();

// Deep searchers (a whole device, block by block). Each returns a new searcher, or null.
ICompleteFileSystemSearchController* CreateHFSPlusSearcher();
ICompleteFileSystemSearchController* CreateEXFatSearcher();
ICompleteFileSystemSearchController* CreateFATSearcher();
ICompleteFileSystemSearchController* CreateRAWSearcher();
ICompleteFileSystemSearchController* CreateNTFSSearcher();
ICompleteFileSystemSearchController* CreateAPFSDeepSearcher();

using QuickSearcherFactory = IQuickFileSystemSearchController* (*)();
using DeepSearcherFactory = ICompleteFileSystemSearchController* (*)();

struct SearcherFactories {
    QuickSearcherFactory fatQuick = CreateFATQuickSearcher;
    QuickSearcherFactory exfatQuick = CreateEXFatQuickSearcher;
    QuickSearcherFactory ntfsQuick = CreateNTFSQuickSearcher;
    QuickSearcherFactory hfsPlusQuick = CreateHFSPlusQuickSearcher;
    QuickSearcherFactory apfsQuick = CreateAPFSQuickSearcher;
    // Deep searchers, in the order a deep scan creates and calls them.
    DeepSearcherFactory hfsPlus = CreateHFSPlusSearcher;
    DeepSearcherFactory exfat = CreateEXFatSearcher;
    DeepSearcherFactory fat = CreateFATSearcher;
    DeepSearcherFactory raw = CreateRAWSearcher;
    DeepSearcherFactory ntfs = CreateNTFSSearcher;
    DeepSearcherFactory apfs = CreateAPFSDeepSearcher;
};

// The table in use (the real factories unless a test replaced it). A null entry means "none".
SearcherFactories& Searchers();
