// Fetching a small document (the list of versions of the update check) without ever holding up the
// windows: the request runs off the main thread, and its completion runs once on the main thread,
// with the answer or, when the time-out passes on the kit's scheduler first, as timed out (a late
// answer is then dropped and the request cancelled). Tests install a recording fetcher and answer
// its requests themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace kit {

struct FetchResult {
    enum class Status { Done, Failed, TimedOut };
    Status status = Status::Failed;
    // The HTTP status when one was received (0 otherwise).
    int httpStatus = 0;
    std::string body;
    // Why it failed, for the log.
    std::string error;
};

class Fetcher {
public:
    using Completion = std::function<void(const FetchResult&)>;
    // What a request does with its answer: call it at most once, from any thread.
    using Deliver = std::function<void(FetchResult)>;
    // Cancels a request that has not answered; called on the main thread, at most once.
    using Cancel = std::function<void()>;

    Fetcher();
    virtual ~Fetcher();
    Fetcher(const Fetcher&) = delete;
    Fetcher& operator=(const Fetcher&) = delete;

    // The installed fetcher (the network's unless a test installed another).
    static Fetcher& current();
    // Installs fetcher (not owned); null restores the network's.
    static void setCurrent(Fetcher* fetcher);

    // Fetches url; completion runs once on the main thread, never inside this call. Main thread.
    void fetch(const std::string& url, double timeoutSeconds, Completion completion);

    // Requests whose completion has not run yet.
    size_t pendingCount() const { return m_pending.size(); }

protected:
    // Starts the request for url, handing its answer to deliver; answers how to cancel it.
    virtual Cancel start(const std::string& url, Deliver deliver) = 0;
    // Cancels every request that has not answered; their completions never run. A subclass calls
    // it first in its destructor, while its requests can still be cancelled.
    void cancelAll();

private:
    struct Pending;
    struct Receiver;
    void finish(const std::shared_ptr<Pending>& pending, const FetchResult& result);

    std::shared_ptr<Receiver> m_receiver;
    std::set<std::shared_ptr<Pending>> m_pending;
};

// Qt Network on a thread of its own: http, https and file addresses; bodies up to kMaxBytes. An HTTP
// status from 400 up is a failure.
class NetworkFetcher : public Fetcher {
public:
    static constexpr std::int64_t kMaxBytes = 1 << 20;

    NetworkFetcher();
    ~NetworkFetcher() override;

protected:
    Cancel start(const std::string& url, Deliver deliver) override;

private:
    struct Worker;
    std::unique_ptr<Worker> m_worker;
};

}  // namespace kit
