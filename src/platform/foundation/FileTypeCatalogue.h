// The file-type catalogue: which file-name extensions each file category lists. It is the shipped
// "FileType" list (with the user's overlay): a dictionary from the decimal text of a category bit
// ("1", "2", "4", "8", "16", "32") to an array of extensions without dots. Category 64 ("other") is
// never listed: it takes every extension the catalogue does not name.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/ResourcePropertyList.h"

namespace brelvox::foundation {

// The category bits the catalogue lists, in the order they are read.
inline constexpr int kCatalogueBits[] = {1, 2, 4, 8, 16, 32};

class FileTypeCatalogue {
public:
    FileTypeCatalogue() = default;
    // key text -> extensions; keys whose value is not an array are left out.
    explicit FileTypeCatalogue(std::map<std::string, std::vector<std::string>> lists) : m_lists(std::move(lists)) {}

    // The extensions listed under the key "%d" of bit; nothing when the key is absent.
    std::optional<std::vector<std::string>> Extensions(int bit) const;
    // The same joined with ";" (the form the engine's file-type manager takes); nothing when absent.
    std::optional<std::string> JoinedExtensions(int bit) const;
    const std::map<std::string, std::vector<std::string>>& Lists() const { return m_lists; }

private:
    std::map<std::string, std::vector<std::string>> m_lists;
};

// The one reader of the catalogue: the merged list's string arrays by key. Nothing when the shipped
// list is missing or unreadable.
std::optional<FileTypeCatalogue> ReadFileTypeCatalogue(const ResourcePropertyList& list = ResourcePropertyList::FileType());

}  // namespace brelvox::foundation
