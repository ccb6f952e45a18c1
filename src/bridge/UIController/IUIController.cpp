#include "bridge/UIController/IUIController.h"

#include <atomic>

namespace {
std::atomic<IUIController*> g_controller{nullptr};
}

IUIController* GetUIController() {
    return g_controller.load(std::memory_order_acquire);
}

void SetUIController(IUIController* controller) {
    g_controller.store(controller, std::memory_order_release);
}
