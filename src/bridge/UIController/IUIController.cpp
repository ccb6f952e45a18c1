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

namespace {

template <class Key>
size_t ResumeAt(const std::map<Key, size_t>& from, const Key& key) {
    const auto found = from.find(key);
    return found == from.end() ? 0 : found->second;
}

void CopyTail(const std::vector<IFileNode*>& list, size_t at, std::vector<IFileNode*>* out) {
    if (at < list.size()) out->assign(list.begin() + static_cast<std::ptrdiff_t>(at), list.end());
}

}  // namespace

IUIController::TypeMap IUIController::TypeTails(const TypeMap& map, const TypeResume& from) {
    TypeMap tails;
    for (const auto& [bit, list] : map) {
        const size_t at = ResumeAt(from, bit);
        if (at < list.size()) CopyTail(list, at, &tails[bit]);
    }
    return tails;
}

IUIController::TimeMap IUIController::TimeTails(const TimeMap& map, const TimeResume& from) {
    TimeMap tails;
    for (const auto& [year, months] : map) {
        for (const auto& [month, list] : months) {
            const size_t at = ResumeAt(from, std::make_pair(year, month));
            if (at < list.size()) CopyTail(list, at, &tails[year][month]);
        }
    }
    return tails;
}
