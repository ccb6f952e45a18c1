// The file-type catalogue and the type tree of the result window: seven category roots, one node per
// extension met (in the order first met) and the found files under them. Files of extensions the
// catalogue does not list stand directly under the root of category 64 ("other").
//
// The tree changes only under the result-tree lock (g_lockerAddData): every operation that changes
// it takes the lock itself, and readers (the windows, on the main thread) hold it while they read.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bridge/ResultTree/IIconProvider.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "platform/foundation/FileTypeCatalogue.h"

class IUIController;

class KXTypeMgr {
public:
    // The category bits of the roots, in root order.
    static constexpr u32 kRootBits[] = {1, 2, 4, 8, 16, 32, 64};
    static constexpr int kIconSize = 16;

    // The process-wide manager over the process's controller, icon provider and shipped catalogue,
    // made on first use.
    static KXTypeMgr& share();

    // A manager over a controller (null: the process's controller at each call), an icon provider
    // (null: no icons) and a catalogue (nothing: every file goes to the other-root). The roots are
    // named with the controller's category titles when the manager is made (empty without one).
    KXTypeMgr(IUIController* controller, IIconProvider* icons,
              std::optional<brelvox::foundation::FileTypeCatalogue> catalogue);
    KXTypeMgr(const KXTypeMgr&) = delete;
    KXTypeMgr& operator=(const KXTypeMgr&) = delete;

    // A new array of the seven roots in bit order 1, 2, 4, 8, 16, 32, 64.
    std::vector<OpNodeData::Ptr> getRootNode();
    OpNodeData::Ptr rootNode(u32 bit);
    // Places the files the scan reported since the previous call, looking at no more than budget of
    // them; true when some are left for a later call.
    bool refreshTypeTree(size_t budget = SIZE_MAX);
    // Makes the node of an extension under the root of its category and registers it.
    OpNodeData::Ptr insertSubNodeToTree(const std::string& extension);
    // Recomputes an extension node or the other-root from its files' engine states.
    void setNodeState(OpNodeData& node);
    // When flagged: recomputes every extension node and the other-root, and clears the flag.
    void refreshTypeTreeState();
    void KXSetNeedRefreshTree() { m_needRefreshTree.store(1); }
    int KXGetNeedRefreshTree() const { return m_needRefreshTree.load(); }
    bool isOtherNode(const OpNodeData* node);
    // The extensions of one catalogue key joined with ";"; nothing when the key is absent.
    std::optional<std::string> getTypeString(u32 bit) const;
    // The 16 x 16 icon of a catalogued extension; null when none.
    IconImage getImageForType(const std::string& extension) const;
    // A copy of image redrawn at the size; null without a provider or for an invalid image.
    IconImage imageSize(const IconImage& image, int width, int height) const;
    // Empties the tree for a new scan (the roots and their states stay).
    void clear();
    // Empties the tree for a search and unticks every file that was in it; the flag has no effect.
    void setSearch(bool flag);
    // The emptying step of setSearch.
    void clearData();

    // The category key of an extension ("1".."32"); nothing when the catalogue does not list it.
    std::optional<std::string> categoryOf(const std::string& extension) const;

private:
    IUIController* controller() const;
    void initRootNode();
    OpNodeData::Ptr createRootNode(u32 bit);
    void initImageDict();
    void initTypeMap();

    IUIController* m_controller;
    IIconProvider* m_icons;
    std::optional<brelvox::foundation::FileTypeCatalogue> m_dic;
    std::unordered_map<std::string, std::string> m_typeDict;
    std::map<u32, OpNodeData::Ptr> m_rootNode;
    std::unordered_map<std::string, OpNodeData::Ptr> m_subNodeDict;
    std::unordered_map<std::string, IconImage> m_imgDict;
    std::unordered_set<IFileNode*> m_insertFileNodeMap;
    std::map<u32, size_t> m_typeIndexMap;
    std::atomic<int> m_needRefreshTree{0};
};
