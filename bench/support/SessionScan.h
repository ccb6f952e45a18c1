// One deep scan of an image through the driver's scan session, timed, with the searcher table narrowed
// to the raw searcher and what `narrow` puts back; `inside` runs before the session ends, while the
// searchers are alive. The table is restored afterwards.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "DeepBench.h"
#include "brelvox-scan/ScanSession.h"
#include "engine/RecoveryController/SearcherFactories.h"

namespace deepbench {

// The scan's seconds, or -1 (with the reason on standard error, after `who`) when it failed.
inline double NarrowedScan(const std::string& image, const std::function<void(SearcherFactories&)>& narrow,
                           const std::function<void()>& inside, const char* who) {
    const SearcherFactories saved = Searchers();
    SearcherFactories narrowed = saved;
    narrowed.hfsPlus = nullptr;
    narrowed.exfat = nullptr;
    narrowed.fat = nullptr;
    narrowed.ntfs = nullptr;
    narrowed.apfs = nullptr;
    narrow(narrowed);
    Searchers() = narrowed;
    double seconds = -1;
    {
        scan::Options options;
        options.source = image;
        scan::ScanSession session(options);
        std::string reason;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = session.Run(reason);
        if (ok) seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        else std::fprintf(stderr, "%s: %s\n", who, reason.c_str());
        inside();
    }
    Searchers() = saved;
    return seconds;
}

}  // namespace deepbench

namespace deepbench {

// Best of `rounds` alternating scans with the raw searcher alone and with the searcher under test, the
// page cache warmed first. Outcome has `ok` and `seconds`; false when a scan failed.
template <class Outcome, class ScanFn>
bool BestOfRounds(int rounds, ScanFn scan, Outcome& raw, Outcome& both) {
    scan(false);
    bool failed = false;
    for (int r = 0; r < rounds && !failed; ++r) {
        const Outcome a = scan(false);
        const Outcome b = scan(true);
        failed = !a.ok || !b.ok;
        if (r == 0 || a.seconds < raw.seconds) raw = a;
        if (r == 0 || b.seconds < both.seconds) both = b;
    }
    return !failed;
}

}  // namespace deepbench
