// The four result-tree arrays of the result window (path, type, created, modified), as the operations
// layer asks for them to be rebuilt. Workers never touch them: the refresh of a scan rebuilds them on
// the main thread under the result-tree lock, just before "NormalScranValue" reaches the windows.
#pragma once

class IResultTreeArrays {
public:
    virtual ~IResultTreeArrays() = default;
    // Rebuilds the arrays from the scan's results. Runs on the main thread with g_lockerAddData held.
    // force: the refresh that closes a scan (every folder still waiting for its parent is placed).
    virtual void RebuildForRefresh(int force) = 0;
    // Empties the arrays and the folders waiting for their parent (a scan starts). Main thread.
    virtual void Reset() = 0;
};

// The arrays of this process: the controller's (KXUIController::Trees) unless a test sets its own.
IResultTreeArrays& ResultTreeArrays();
// Null restores the controller's arrays.
void SetResultTreeArrays(IResultTreeArrays* arrays);
