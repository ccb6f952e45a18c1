#include "platform/foundation/FileTypeCatalogue.h"

namespace brelvox::foundation {

std::optional<std::vector<std::string>> FileTypeCatalogue::Extensions(int bit) const {
    const auto found = m_lists.find(std::to_string(bit));
    if (found == m_lists.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> FileTypeCatalogue::JoinedExtensions(int bit) const {
    const auto extensions = Extensions(bit);
    if (!extensions) return std::nullopt;
    std::string joined;
    for (size_t i = 0; i < extensions->size(); ++i) {
        if (i) joined += ';';
        joined += (*extensions)[i];
    }
    return joined;
}

std::optional<FileTypeCatalogue> ReadFileTypeCatalogue(const ResourcePropertyList& list) {
    const auto dictionary = list.Read();
    if (!dictionary) return std::nullopt;
    std::map<std::string, std::vector<std::string>> lists;
    for (const std::string& key : dictionary->Keys()) {
        if (auto extensions = dictionary->GetStringArray(key)) lists.emplace(key, std::move(*extensions));
    }
    return FileTypeCatalogue(std::move(lists));
}

}  // namespace brelvox::foundation
