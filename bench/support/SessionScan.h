// One deep scan of an image through the driver's scan session, timed, with the searcher table narrowed
// to the raw searcher and what `narrow` puts back; `inside` runs before the session ends, while the
// searchers are alive. The table is restored afterwards.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

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

// `rounds` alternating scans with the raw searcher alone and with the searcher under test, the page cache
// warmed first: every round's pair of outcomes
// (Outcome has `ok` and `seconds`). False when a scan failed.
template <class Outcome, class ScanFn>
bool AlternatingRounds(int rounds, ScanFn scan, std::vector<Outcome>& raw, std::vector<Outcome>& both) {
    scan(false);
    bool failed = false;
    for (int r = 0; r < rounds && !failed; ++r) {
        raw.push_back(scan(false));
        both.push_back(scan(true));
        failed = !raw.back().ok || !both.back().ok;
    }
    return !failed;
}

// The round whose time is the median of the rounds'.
template <class Outcome>
Outcome MedianRound(std::vector<Outcome> rounds) {
    std::sort(rounds.begin(), rounds.end(), [](const Outcome& a, const Outcome& b) { return a.seconds < b.seconds; });
    return rounds[rounds.size() / 2];
}

// Best of `rounds` alternating scans (see AlternatingRounds), each kind's fastest round.
template <class Outcome, class ScanFn>
bool BestOfRounds(int rounds, ScanFn scan, Outcome& raw, Outcome& both) {
    std::vector<Outcome> raws, boths;
    const bool ok = AlternatingRounds(rounds, scan, raws, boths);
    if (raws.empty() || boths.empty()) return false;
    auto faster = [](const Outcome& a, const Outcome& b) { return a.seconds < b.seconds; };
    raw = *std::min_element(raws.begin(), raws.end(), faster);
    both = *std::min_element(boths.begin(), boths.end(), faster);
    return ok;
}

}  // namespace deepbench
