// Work done in two steps per item, where only the second must run on the calling thread: the first
// step of item k + 1 runs on a thread of its own while the calling thread does the second step of item k.
// At most one item is prepared ahead: while item k is handed, item k + 1 at most is prepared, and item
// k + 2 waits until item k is handed and destroyed (a prepared item may hold much memory).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

// prepare(k) for k = 0 .. count - 1, in order, on one other thread; hand(k, result) in order on the
// calling thread, each as soon as its item is prepared. What prepare throws is rethrown here, before
// the item it failed on is handed; what hand throws stops the preparing and leaves this. Results not
// handed over are destroyed. Without a thread, both steps run here, item by item.
template <class Result, class Prepare, class Hand>
void PrepareAhead(size_t count, Prepare&& prepare, Hand&& hand) {
    if (count == 0) return;
    struct Shared {
        std::mutex lock;
        std::condition_variable ready;  // an item was prepared, or the preparing failed
        std::condition_variable room;   // an item was handed and destroyed, or the work stops
        std::vector<std::optional<Result>> results;
        size_t prepared = 0;
        size_t handed = 0;  // items handed over and destroyed
        bool stop = false;
        std::exception_ptr failure;
    } shared;
    shared.results.resize(count);
    auto work = [&shared, &prepare, count] {
        for (size_t k = 0; k < count; ++k) {
            {
                std::unique_lock<std::mutex> hold(shared.lock);
                shared.room.wait(hold, [&] { return shared.stop || k <= shared.handed + 1; });
                if (shared.stop) return;
            }
            std::optional<Result> made;
            try {
                made.emplace(prepare(k));
            } catch (...) {
                std::lock_guard<std::mutex> hold(shared.lock);
                shared.failure = std::current_exception();
                shared.ready.notify_one();
                return;
            }
            std::lock_guard<std::mutex> hold(shared.lock);
            shared.results[k].emplace(std::move(*made));
            shared.prepared = k + 1;
            shared.ready.notify_one();
        }
    };
    std::thread thread;
    try {
        thread = std::thread(work);
    } catch (const std::system_error&) {
        for (size_t k = 0; k < count; ++k) {
            Result result = prepare(k);
            hand(k, result);
        }
        return;
    }
    // However this is left, the thread stops after its current item and is joined.
    struct Join {
        Shared& shared;
        std::thread& thread;
        ~Join() {
            {
                std::lock_guard<std::mutex> hold(shared.lock);
                shared.stop = true;
            }
            shared.room.notify_one();
            thread.join();
        }
    } join{shared, thread};
    for (size_t k = 0; k < count; ++k) {
        {
            std::optional<Result> result;
            {
                std::unique_lock<std::mutex> hold(shared.lock);
                shared.ready.wait(hold, [&] { return shared.prepared > k || shared.failure; });
                if (shared.prepared <= k) std::rethrow_exception(shared.failure);
                result.emplace(std::move(*shared.results[k]));
                shared.results[k].reset();
            }
            hand(k, *result);
        }
        {
            std::lock_guard<std::mutex> hold(shared.lock);
            shared.handed = k + 1;
        }
        shared.room.notify_one();
    }
}
