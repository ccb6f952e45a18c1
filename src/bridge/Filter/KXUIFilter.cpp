#include "bridge/Filter/KXUIFilter.h"

#include "engine/Common/IRecoveryFilter.h"

KXUIFilter& KXUIFilter::instance() {
    static KXUIFilter filter;
    return filter;
}

KXUIFilter::KXUIFilter(Factory factory) : m_factory(factory ? std::move(factory) : Factory(&CreateFilter)) {
    m_filter = m_factory();
}

KXUIFilter::~KXUIFilter() {
    if (m_filter) m_filter->Release();
}

IRecoveryFilter* KXUIFilter::GetFilter() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_filter;
}

void KXUIFilter::ResetFilter(u32 mask) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!m_filter) m_filter = m_factory();
    if (m_filter) m_filter->SetFilterTypes(mask);
}
