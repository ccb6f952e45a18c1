#include "bridge/Utilities/KXUIPublic.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "bridge/Utilities/FileTime.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "bridge/Utilities/TextUtilities.h"
#include "engine/Utility/FileNode.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"

using brelvox::foundation::NotificationCenter;

namespace {

constexpr int kMaxParentSteps = 1024;

std::atomic<NotificationCenter*> g_centre{nullptr};
std::mutex g_workMutex;
std::vector<std::thread> g_work;

NotificationCenter& Centre() {
    NotificationCenter* centre = g_centre.load();
    return centre ? *centre : NotificationCenter::Default();
}

}  // namespace

const void* KXUIPublic::ClassObject() {
    static const char tag = 0;
    return &tag;
}

void KXUIPublic::SetNotificationCenter(NotificationCenter* centre) {
    g_centre.store(centre);
}

void KXUIPublic::NotifyMainThread(const std::string& name) {
    Centre().PostOnMainThread(name, ClassObject());
}

void KXUIPublic::NotifyMainThreadAfter(const std::string& name, std::function<void()> before) {
    brelvox::foundation::IMainThreadQueue* queue = Centre().MainThreadQueue();
    if (!queue) return;
    queue->Post([name, before = std::move(before)] {
        if (before) before();
        NotifyMainThreadCB(name);
    });
}

void KXUIPublic::RunOnMainThread(std::function<void()> work) {
    brelvox::foundation::IMainThreadQueue* queue = Centre().MainThreadQueue();
    if (queue && work) queue->Post(std::move(work));
}

void KXUIPublic::NotifyMainThreadCB(const std::string& name) {
    Centre().Post(name, ClassObject());
}

void KXUIPublic::NotifyMainThreadByPostKey(const std::string& name, std::function<void()> work) {
    std::lock_guard<std::mutex> hold(g_workMutex);
    g_work.emplace_back([name, work = std::move(work)] {
        if (work) work();
        NotifyMainThread(name);
    });
}

void KXUIPublic::WaitForBackgroundWork() {
    std::vector<std::thread> running;
    {
        std::lock_guard<std::mutex> hold(g_workMutex);
        running.swap(g_work);
    }
    for (auto& t : running) t.join();
}

std::string KXUIPublic::FormatFileTimeToString(_FILETIME time) {
    return bridge_time::FormatDateTime(bridge_time::ConvertWindowsTimeToUnixTime(time));
}

void KXUIPublic::GetYearAndMonthByFileTime(int* year, int* month, _FILETIME time) {
    KXCPPPublic::instance().GetYearMonthByFileTime(year, month, time);
}

bool KXUIPublic::IsStringInString(const char* needle, const char* text) {
    if (!needle || !*needle) return true;
    if (!text) return false;
    return bridge_text::ContainsIgnoringCase(text, needle);
}

bool KXUIPublic::IsStringInFileNode(const char* needle, IFileNode* node, bool desktopOnly) {
    if (!needle || !*needle) return true;
    if (!node) return false;
    // Depth first over the subtree, without recursion: found trees can be deep.
    std::vector<IFileNode*> pending{node};
    while (!pending.empty()) {
        IFileNode* current = pending.back();
        pending.pop_back();
        if (current->IsDirectory()) {
            for (IFileNode* child = current->GetFirstChild(); child; child = child->GetNextNode()) {
                pending.push_back(child);
            }
            continue;
        }
        if (desktopOnly) {
            IFileNode* parent = current->GetParent();
            const char* parentName = parent ? parent->GetFileName() : nullptr;
            if (parentName && std::strcmp(parentName, "Desktop") == 0) return true;
            continue;
        }
        if (IsStringInString(needle, current->GetFileName())) return true;
    }
    return false;
}

bool KXUIPublic::IsStringInFileNode(const char* needle, IFileNode* node) {
    const bool desktopOnly =
        brelvox::foundation::UserDefaults::Standard().GetBool(brelvox::foundation::defaults_key::kIsSelectDesktopDisk);
    return IsStringInFileNode(needle, node, desktopOnly);
}

bool KXUIPublic::IsStringInFileNodeVector(const char* needle, const std::vector<IFileNode*>& nodes) {
    if (!needle || !*needle) return true;
    for (IFileNode* node : nodes) {
        if (node && IsStringInString(needle, node->GetFileName())) return true;
    }
    return false;
}

std::string KXUIPublic::GetPathByFileNode(IFileNode* node) {
    if (!node) return {};
    std::string path;
    IFileNode* current = node;
    for (int step = 0; step <= kMaxParentSteps; ++step) {
        IFileNode* parent = current->GetParent();
        if (!parent) {
            const char* volume = current->GetVolumeName();
            return "/" + std::string(volume ? volume : "") + path;
        }
        const char* name = current->GetFileName();
        path = "/" + std::string(name ? name : "") + path;
        current = parent;
    }
    return {};
}

std::string KXUIPublic::GetFileSystemStrByType(u32 searcherType) {
    return GetFileSystemStrByType(searcherType, std::time(nullptr));
}

std::string KXUIPublic::GetFileSystemStrByType(u32 searcherType, std::time_t now) {
    const std::string dated = "Recovered Data " + bridge_time::LocalDateText(now) + "_";
    switch (searcherType) {
        case SEARCHER_HFSPLUS:
            return "HFS+_" + dated;
        case SEARCHER_FAT:
            return "Fat_" + dated;
        case SEARCHER_EXFAT:
            return "ExFat_" + dated;
        case SEARCHER_RAW:
            return "RAW_";
        case SEARCHER_RAW_TAG:
            return "Lable_RAW_" + dated;
        case SEARCHER_APFS:
            return "APFS_" + dated;
        default:
            return {};
    }
}
