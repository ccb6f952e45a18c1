// Utilities shared by the windows and the operations layer: notifications on the main thread,
// node times, name search over file nodes, node paths and recovery-folder prefixes.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "engine/Common/SearcherTypes.h"

class IFileNode;

namespace brelvox::foundation {
class NotificationCenter;
}

class KXUIPublic {
public:
    // The sender object of every notification posted here.
    static const void* ClassObject();

    // Posts name on the main thread (through the default centre's main-thread queue); returns at once.
    static void NotifyMainThread(const std::string& name);
    // Queues work for the main thread that runs before, then posts name there; returns at once.
    // Without a main-thread queue nothing runs (as a post would be dropped).
    static void NotifyMainThreadAfter(const std::string& name, std::function<void()> before);
    // Queues work for the main thread; returns at once. Without a main-thread queue nothing runs.
    static void RunOnMainThread(std::function<void()> work);
    // The post itself: the notification name, from ClassObject(), no payload, on this thread.
    static void NotifyMainThreadCB(const std::string& name);
    // Runs work on a background thread and then posts name on the main thread.
    static void NotifyMainThreadByPostKey(const std::string& name, std::function<void()> work);
    // Waits for the background work started by NotifyMainThreadByPostKey (at quitting, in tests).
    static void WaitForBackgroundWork();
    // The centre used by the calls above (the default centre unless a test sets another).
    static void SetNotificationCenter(brelvox::foundation::NotificationCenter* centre);

    // The date with its time as shown to the user; empty for a time the system cannot convert.
    static std::string FormatFileTimeToString(_FILETIME time);
    // Local calendar year and month (1-12); either pointer may be null. Both 0 when unconvertible.
    static void GetYearAndMonthByFileTime(int* year, int* month, _FILETIME time);

    // True for an empty needle, false for a null text, else whether text holds needle ignoring case.
    static bool IsStringInString(const char* needle, const char* text);
    // A folder matches when a descendant file matches; a file by its name, or, when desktopOnly is
    // set (the "isSelectDesktopDisk" default), when its parent folder is named "Desktop".
    static bool IsStringInFileNode(const char* needle, IFileNode* node, bool desktopOnly);
    // The same with desktopOnly read from the standard user defaults.
    static bool IsStringInFileNode(const char* needle, IFileNode* node);
    static bool IsStringInFileNodeVector(const char* needle, const std::vector<IFileNode*>& nodes);

    // "/" volume name "/" each folder name "/" ... the node's own name, as found on disk (for
    // display; recovery paths are built from sanitised components). Empty for null or for a
    // parent chain longer than 1024 steps.
    static std::string GetPathByFileNode(IFileNode* node);

    // The recovery-folder prefix of a searcher type, dated now (or at the given time).
    static std::string GetFileSystemStrByType(u32 searcherType);
    static std::string GetFileSystemStrByType(u32 searcherType, std::time_t now);
};
