#include "bridge/Utilities/KXCPPPublic.h"

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "bridge/Utilities/FileTime.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "bridge/Utilities/TextUtilities.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/IFilesystemNode.h"
#include "platform/foundation/Localization.h"

namespace {

constexpr int kMaxParentSteps = 1024;

struct CategoryTitle {
    u32 bit;
    const char* key;
};
constexpr CategoryTitle kCategoryTitles[] = {
    {FILTER_DOCUMENT, "DYD_TWO_DOCUMENT_TITLE"}, {FILTER_PICTURE, "DYD_TWO_PICTURE_TITLE"},
    {FILTER_MOVIE, "DYD_TWO_MOVIE_TITLE"},       {FILTER_MUSIC, "DYD_TWO_MUSIC_TITLE"},
    {FILTER_ARCHIVE, "DYD_TWO_ARCHIVES_TITLE"},  {FILTER_EMAIL, "DYD_TWO_EMAIL_TITLE"},
    {FILTER_OTHER, "DYD_TWO_OTHER_TITLE"},
};

_FILETIME TimeOf(IFileNode* node, u32 key) {
    switch (key) {
        case 2:
            return node->GetCreationTime();
        case 3:
            return node->GetModificationTime();
        default:
            return node->GetLastAccessTime();
    }
}

}  // namespace

KXCPPPublic& KXCPPPublic::instance() {
    static KXCPPPublic utilities;
    return utilities;
}

IFilesystemNode* KXCPPPublic::GetFileSystemNode(IFileNode* node) {
    if (!node) return nullptr;
    IFileNode* current = node;
    for (int step = 0; step <= kMaxParentSteps; ++step) {
        IFileNode* parent = current->GetParent();
        if (!parent) return dynamic_cast<IFilesystemNode*>(current);
        current = parent;
    }
    return nullptr;  // a chain this long is damaged (or cyclic)
}

u32 KXCPPPublic::GetNodeSearcheType(IFileNode* node) {
    IFilesystemNode* root = GetFileSystemNode(node);
    return root ? static_cast<u32>(root->GetSearcheType()) : static_cast<u32>(SEARCHER_NONE);
}

void KXCPPPublic::GetYearMonthByTimeT(int* year, int* month, i64 seconds) {
    const auto tm = bridge_time::LocalTime(seconds);
    if (year) *year = tm ? tm->tm_year + 1900 : 0;
    if (month) *month = tm ? tm->tm_mon + 1 : 0;
}

void KXCPPPublic::GetYearMonthByFileTime(int* year, int* month, _FILETIME time) {
    GetYearMonthByTimeT(year, month, bridge_time::ConvertWindowsTimeToUnixTime(time));
}

std::string KXCPPPublic::FilterTypeToString(u32 bit) {
    for (const auto& title : kCategoryTitles) {
        if (title.bit == bit) return brelvox::foundation::Localized(title.key);
    }
    return {};
}

bool KXCPPPublic::IsTypeString(const char* text, u32 bit) {
    return text && FilterTypeToString(bit) == text;
}

u32 KXCPPPublic::StringToFilterType(const char* text) {
    if (!text) return FILTER_OTHER;
    for (const auto& title : kCategoryTitles) {
        if (IsTypeString(text, title.bit)) return title.bit;
    }
    return FILTER_OTHER;
}

std::string KXCPPPublic::GetNodeExt(IFileNode* node) {
    const char* name = node ? node->GetFileName() : nullptr;
    const char* dot = name ? std::strrchr(name, '.') : nullptr;
    return dot ? bridge_text::ToLower(dot + 1) : std::string();
}

bool KXCPPPublic::IsStringInFileNode(const char* needle, IFileNode* node) {
    return KXUIPublic::IsStringInFileNode(needle, node);
}

void KXCPPPublic::SortFileNodeVector(std::vector<IFileNode*>& nodes, u32 key) {
    std::erase(nodes, nullptr);
    std::sort(nodes.begin(), nodes.end(), cmpFileNode(key));
}

bool KXCPPPublic::IsAppRunning(const std::string& productName, const std::string& procRoot) {
    if (productName.empty()) return false;
    DIR* dir = opendir(procRoot.c_str());
    if (!dir) return false;
    const long self = static_cast<long>(getpid());
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0 || pid == self) continue;
        std::ifstream comm(procRoot + "/" + entry->d_name + "/comm");
        std::string name;
        if (!std::getline(comm, name) || name.empty()) continue;
        // The whole name must match: a short name such as "b" is another program.
        if (name.size() == productName.size() && strcasecmp(name.c_str(), productName.c_str()) == 0) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

bool cmpFileNode::operator()(IFileNode* a, IFileNode* b) const {
    if (!a || !b) return a != nullptr;  // nulls last, consistently
    if (m_key >= 2 && m_key <= 4) {
        return bridge_time::ConvertWindowsTimeToUnixTime(TimeOf(a, m_key)) >
               bridge_time::ConvertWindowsTimeToUnixTime(TimeOf(b, m_key));
    }
    const char* na = a->GetFileName();
    const char* nb = b->GetFileName();
    return std::strcmp(na ? na : "", nb ? nb : "") > 0;
}
