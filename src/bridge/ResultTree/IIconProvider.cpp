#include "bridge/ResultTree/IIconProvider.h"

#include <atomic>

namespace {
std::atomic<IIconProvider*> g_provider{nullptr};
}

IIconProvider* GetIconProvider() {
    return g_provider.load(std::memory_order_acquire);
}

void SetIconProvider(IIconProvider* provider) {
    g_provider.store(provider, std::memory_order_release);
}
