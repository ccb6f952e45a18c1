#include "FileTypeCatalogue.h"

#include <map>

#include "engine/Common/FileTypeManager.h"
#include "platform/foundation/ConfigPaths.h"
#include "platform/foundation/FileTypeCatalogue.h"

namespace scan {

bool LoadFileTypeCatalogue(std::string& reason) {
    using brelvox::foundation::ResourcePropertyList;
    const auto catalogue = brelvox::foundation::ReadFileTypeCatalogue(ResourcePropertyList::FileType());
    if (!catalogue) {
        const std::string folder = brelvox::foundation::ResourceDirectory();
        reason = folder.empty() ? "cannot find the resources folder that holds the file-type catalogue (name it with"
                                  " BRELVOX_RESOURCES)"
                                : "cannot read the file-type catalogue " + ResourcePropertyList::FileType().ResourcePath();
        return false;
    }
    std::map<int, std::string> lists;
    for (int bit : brelvox::foundation::kCatalogueBits) lists[bit] = catalogue->JoinedExtensions(bit).value_or("");
    CFileTypeManager::Initialze(lists);
    return true;
}

}  // namespace scan
