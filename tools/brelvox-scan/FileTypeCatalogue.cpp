#include "FileTypeCatalogue.h"

#include <map>

#include "engine/Common/FileTypeManager.h"
#include "platform/foundation/ConfigPaths.h"
#include "platform/foundation/ResourcePropertyList.h"

namespace scan {

bool LoadFileTypeCatalogue(std::string& reason) {
    using brelvox::foundation::ResourcePropertyList;
    const auto catalogue = ResourcePropertyList::FileType().Read();
    if (!catalogue) {
        const std::string folder = brelvox::foundation::ResourceDirectory();
        reason = folder.empty() ? "cannot find the resources folder that holds the file-type catalogue (name it with"
                                  " BRELVOX_RESOURCES)"
                                : "cannot read the file-type catalogue " + ResourcePropertyList::FileType().ResourcePath();
        return false;
    }
    std::map<int, std::string> lists;
    for (int bit = 1; bit <= 32; bit <<= 1) {
        std::string joined;
        for (const std::string& extension : catalogue->GetStringArray(std::to_string(bit)).value_or(std::vector<std::string>{}))
            joined += (joined.empty() ? "" : ";") + extension;
        lists[bit] = joined;
    }
    CFileTypeManager::Initialze(lists);
    return true;
}

}  // namespace scan
