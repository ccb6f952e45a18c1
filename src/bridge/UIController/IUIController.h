// The calls through which the windows and the result-tree model reach the operations layer. The
// application sets one controller (the adapter over the operations layer); tests set a scripted fake.
// Each call is answered on the caller's thread.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/Common/SearcherTypes.h"

class IFileNode;

class IUIController {
public:
    // Category bit (_FILTER_TYPE) -> the engine nodes the scan filed under it, in the order found.
    using TypeMap = std::map<u32, std::vector<IFileNode*>>;
    // Year -> month (1-12) -> the engine nodes of that month, in the order found.
    using TimeMap = std::map<int, std::map<int, std::vector<IFileNode*>>>;

    virtual ~IUIController() = default;

    // Scan state: running covers under way, paused and asked to stop; paused only paused.
    virtual bool IsScanRunning() = 0;
    virtual bool IsPause() = 0;
    // Percentage and found-file count of the scan; answers the remaining time ("-:-:-" when unknown).
    virtual std::string GetScanProgress(double* percent, u64* fileCount) = 0;
    // The view type of the result window's current tab: 0 path, 1 type, 2 created, 3 modified.
    virtual int GetScanType() = 0;

    // Copies of the scan's maps, taken under the scan's own lock.
    virtual TypeMap GetTypeMap() = 0;
    virtual TimeMap GetCreateTimeMap() = 0;
    virtual TimeMap GetModifyTimeMap() = 0;
    // The text after the last "." of the node's name, lower-cased; empty when the node, its name or
    // a "." is missing.
    virtual std::string GetNodeExt(IFileNode* node) = 0;

    // The "/"-joined path of a node up to its root (the root gives its volume name); empty for null.
    virtual std::string GetPathByFileNode(IFileNode* node) = 0;
    // A node time (100-ns ticks since 1601) as the lists show it.
    virtual std::string FormatFileTimeToString(_FILETIME time) = 0;
    // Local calendar year and month (1-12) of a node time; both 0 when it cannot be converted.
    virtual void GetYearMonthByFileTime(int* year, int* month, _FILETIME time) = 0;
    // The localised title of a category bit (empty for any other value), and the first bit whose
    // title equals text (64 when none does or text is null).
    virtual std::string FilterTypeToString(u32 bit) = 0;
    virtual u32 StringToFilterType(const char* text) = 0;
};

// The controller of this process; null until the application (or a test) sets one. Calls that need
// it answer their neutral value (empty, 0, nothing placed) without one.
IUIController* GetUIController();
void SetUIController(IUIController* controller);
