#include "bridge/Dispatch/ResultTreeArrays.h"

#include <atomic>

namespace {

class NoArrays : public IResultTreeArrays {
public:
    void RebuildForRefresh(int) override {}
    void Reset() override {}
};

std::atomic<IResultTreeArrays*> g_arrays{nullptr};

}  // namespace

IResultTreeArrays& ResultTreeArrays() {
    static NoArrays none;
    IResultTreeArrays* arrays = g_arrays.load(std::memory_order_acquire);
    return arrays ? *arrays : none;
}

void SetResultTreeArrays(IResultTreeArrays* arrays) {
    g_arrays.store(arrays, std::memory_order_release);
}
