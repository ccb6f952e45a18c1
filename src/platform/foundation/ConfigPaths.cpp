#include "platform/foundation/ConfigPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace brelvox::foundation {

namespace {

std::mutex g_mutex;
std::string g_setDirectory;      // by SetResourceDirectory
std::string g_resourceDirectory; // found by the search, once

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

bool HoldsResources(const std::filesystem::path& folder) {
    std::error_code ec;
    return std::filesystem::is_regular_file(folder / "PrivateData.plist", ec);
}

std::string SearchResourceDirectory() {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int level = 0; !ec && level < 4 && !folder.empty(); ++level) {
        if (HoldsResources(folder / "resources")) return (folder / "resources").string();
        if (folder == folder.parent_path()) break;
        folder = folder.parent_path();
    }
    // A program built outside its source tree, installed or not.
    for (const char* known : {BRELVOX_INSTALLED_RESOURCE_DIR, BRELVOX_BUILD_RESOURCE_DIR}) {
        if (HoldsResources(known)) return known;
    }
    return {};
}

}  // namespace

std::string UserConfigDirectory() {
    // XDG: a relative value is invalid and ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string base = (xdg && xdg[0] == '/') ? std::string(xdg) : HomeDirectory() + "/.config";
    return base + "/Brelvox";
}

std::string ResourceDirectory() {
    std::lock_guard<std::mutex> hold(g_mutex);
    if (!g_setDirectory.empty()) return g_setDirectory;
    if (const char* named = std::getenv("BRELVOX_RESOURCES"); named && *named) return named;
    if (g_resourceDirectory.empty()) g_resourceDirectory = SearchResourceDirectory();
    return g_resourceDirectory;
}

void SetResourceDirectory(const std::string& folder) {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_setDirectory = folder;
}

}  // namespace brelvox::foundation
