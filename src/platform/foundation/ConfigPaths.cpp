#include "platform/foundation/ConfigPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace brelvox::foundation {

namespace {

std::mutex g_mutex;
std::string g_resourceDirectory;

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string SearchResourceDirectory() {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    if (ec) return {};
    for (int level = 0; level < 4 && !folder.empty(); ++level) {
        const auto candidate = folder / "resources";
        if (std::filesystem::is_regular_file(candidate / "PrivateData.plist", ec)) return candidate.string();
        if (folder == folder.parent_path()) break;
        folder = folder.parent_path();
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
    if (g_resourceDirectory.empty()) g_resourceDirectory = SearchResourceDirectory();
    return g_resourceDirectory;
}

void SetResourceDirectory(const std::string& folder) {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_resourceDirectory = folder;
}

}  // namespace brelvox::foundation
