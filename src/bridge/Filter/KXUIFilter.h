// The one engine file-type filter through which the user's category choice reaches a scan.
#pragma once

#include <functional>
#include <mutex>

#include "engine/Common/Types.h"

class IRecoveryFilter;

class KXUIFilter {
public:
    using Factory = std::function<IRecoveryFilter*()>;

    static KXUIFilter& instance();

    // Asks factory (the engine's CreateFilter by default) for the filter.
    explicit KXUIFilter(Factory factory = nullptr);
    virtual ~KXUIFilter();
    KXUIFilter(const KXUIFilter&) = delete;
    KXUIFilter& operator=(const KXUIFilter&) = delete;

    // The filter; null when the engine made none.
    IRecoveryFilter* GetFilter();
    // Makes the filter when there is none yet (a failed creation is tried again), then sets the
    // _FILTER_TYPE bits it keeps (127: every category).
    void ResetFilter(u32 mask);

private:
    Factory m_factory;
    std::mutex m_mutex;
    IRecoveryFilter* m_filter = nullptr;
};
