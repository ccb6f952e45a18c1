#include "bridge/Dispatch/ResultTreeArrays.h"

#include <atomic>

#include "bridge/Controller/KXUIController.h"

namespace {

std::atomic<IResultTreeArrays*> g_arrays{nullptr};

}  // namespace

IResultTreeArrays& ResultTreeArrays() {
    IResultTreeArrays* arrays = g_arrays.load(std::memory_order_acquire);
    return arrays ? *arrays : KXUIController::Trees();
}

void SetResultTreeArrays(IResultTreeArrays* arrays) {
    g_arrays.store(arrays, std::memory_order_release);
}
