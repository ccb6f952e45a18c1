// How the operations layer runs a long task off the main thread and reports it: a joinable worker
// with a 2 MiB stack, an optional poll thread that posts a notification while the task asks for a
// refresh, and the refresh hook through which the scan announces new results. Every notification
// reaches the windows through the main-thread queue; nothing here waits for the main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "bridge/Dispatch/WorkerRegistry.h"

class KXUIOperation;

namespace dispatch {

// The period of the poll threads.
inline constexpr std::chrono::milliseconds kPollPeriod{100};
// At most one unforced "NormalScranValue" in this period.
inline constexpr std::chrono::milliseconds kRefreshPeriod{2000};

// Starts worker on a joinable 2 MiB thread; with uiNotify, first a poll thread over operation that
// posts name (QueryStatusAndUpdateUI). Returns the worker, null when no thread could be made (then no
// poll thread runs either).
std::shared_ptr<Worker> DoOperation(std::function<void()> worker, KXUIOperation* operation, const std::string& name,
                                    bool uiNotify);

// Body of the poll thread of an operation: every poll period until the operation has exited, a
// raised need-UI-update flag is cleared and, when the operation's tree is finished, name is posted;
// afterwards name is posted once more when nothing was posted.
void QueryStatusAndUpdateUI(KXUIOperation& operation, const std::string& name);
// Body of the poll thread of saving or loading a scan result: every poll period until the operation
// has exited, a raised flag is cleared and name posted; then "QueryProgressFinish".
void QueryUpdateUI(KXUIOperation& operation, const std::string& name);
// The older poll loop of the same timing: posts "QueryProgressInfo" for each raised flag (through the
// main-thread queue, like every other post).
void QuerySaveOrRestoreProgress(KXUIOperation& operation);

}  // namespace dispatch

// The scan's refresh hook. Never waits: while the scan's tree is not finished it only remembers a
// forced request (delivered by DeliverPendingRefresh); otherwise a forced request, or one at least
// the refresh period after the last post, queues for the main thread the rebuild of the result-tree
// arrays (under g_lockerAddData) followed by "NormalScranValue".
void KXNotifyUIUpdateData(int force);
// A forced refresh asked while the tree was not finished is queued now (the scan's tree is finished).
void DeliverPendingRefresh();
// Queues a refresh at once, whatever the period (a rebuild that left new files for the next one).
void PostRefreshNow(int force);
// The next unforced refresh posts at once (a new scan, reset trees).
void ResetRefreshClock();
