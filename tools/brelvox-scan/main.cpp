// brelvox-scan: a command-line front to the engine for end-to-end tests and benchmarks. It makes the
// calls the operations layer makes (device, volume recognition, recovery controller, tree receiver,
// data recovery) and adds nothing of its own.
//
//   brelvox-scan [--quick | --deep] [--types BITS] [--list FILE] [--partitions FILE] [--recover DIR] [--verbose] SOURCE
//   brelvox-scan --list-devices
//   brelvox-scan --help
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "ListDevices.h"
#include "OutputFile.h"
#include "PartitionList.h"
#include "ScanSession.h"
#include "engine/Common/DebugChannel.h"
#include "engine/Common/Sanitizers.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/EnumDevice/IEnumDeviceEx.h"
#include "platform/disks/DestinationCheck.h"

namespace {

// Whether a leak checker looks at the process's end (run by exit): then everything is freed before it.
constexpr bool kLeakChecked = sanitizers::kAddress;

// Ends the driver once a scan has run. The session holds every found node, each its own allocation:
// the process's end hands them back to the system at once instead of freeing them one by one (what a
// scan wrote is written and closed by then).
[[noreturn]] void EndAfterScan(std::unique_ptr<scan::ScanSession>& session, int status) {
    if (kLeakChecked) {
        session.reset();
        std::exit(status);
    }
    std::fflush(nullptr);
    std::_Exit(status);
}

void Usage(FILE* to) {
    std::fprintf(to,
                 "usage: brelvox-scan [--quick | --deep] [--types BITS] [--list FILE] [--partitions FILE]"
                 " [--recover DIR] [--verbose] SOURCE | --list-devices [--verbose] | --help\n");
}

int Fail(const std::string& reason) {
    std::fprintf(stderr, "brelvox-scan: %s\n", reason.c_str());
    return 1;
}

bool ParseBits(const char* text, u32& bits) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno || !end || *end || end == text || value == 0 || value > 127) return false;
    bits = u32(value);
    return true;
}

// Refuses, before anything is read or written, a --list file or --recover folder through which the
// driver would write into the scanned source. True when both are safe (or the source cannot be
// found, which the scan reports itself).
bool CheckDestinations(const scan::Options& options, std::string& reason) {
    const brelvox::disks::BlockTopology topology;
    for (const std::string& path : {options.listPath == "-" ? std::string() : options.listPath,
                                    options.partitionsPath == "-" ? std::string() : options.partitionsPath,
                                    options.recoverDir}) {
        if (path.empty()) continue;
        reason = brelvox::disks::WriteProblem(options.source, path, topology);
        if (!reason.empty()) return false;
    }
    return true;
}

// The exit status of a run stopped by SIGINT, as a shell reports a process that SIGINT ended.
constexpr int kInterruptedStatus = 128 + SIGINT;

int Interrupted(const std::string& what) {
    std::fprintf(stderr, "brelvox-scan: interrupted %s\n", what.c_str());
    return kInterruptedStatus;
}

// The summary of --recover on standard output.
bool WriteSummary(const scan::Options& options, const scan::RecoverCounts& counts) {
    std::string summary = "copied " + std::to_string(counts.copied) + ", failed " + std::to_string(counts.failed);
    if (counts.unreadable) summary += ", unreadable " + std::to_string(counts.unreadable);
    if (counts.interrupted) summary += ", interrupted";
    summary += "\n";
    return ::write(options.standardOutputFd, summary.data(), summary.size()) >= 0;
}

// Scans, then writes what was asked; the exit status.
int Scan(scan::ScanSession& session, const scan::Options& options) {
    std::string reason;
    const bool scanned = session.Run(reason);
    if (scan::StopRequested()) {
        // Nothing is written from a scan cut short: a list or copies of part of it would pass for all.
        if (!options.recoverDir.empty()) WriteSummary(options, scan::RecoverCounts{.interrupted = true});
        return Interrupted("during the scan: nothing listed or copied");
    }
    if (!scanned) return Fail(reason);
    if (!options.partitionsPath.empty() &&
        !scan::WriteOutput(options.partitionsPath, options.standardOutputFd, options.source,
                           scan::PartitionLines(*session.Controller()), "partitions", reason))
        return Fail(reason);
    if (!options.listPath.empty() && !session.WriteList(reason)) return Fail(reason);
    if (!options.recoverDir.empty()) {
        scan::RecoverCounts counts;
        if (!session.Recover(counts, reason)) return Fail(reason);
        if (!WriteSummary(options, counts)) return Fail("cannot write the summary");
        if (counts.interrupted) return Interrupted("during the copy-out: the files after the last copied were not tried");
        if (counts.failed) return Fail(std::to_string(counts.failed) + " file(s) could not be copied");
        if (counts.unreadable)
            return Fail(std::to_string(counts.unreadable) + " copied file(s) hold unreadable ranges written as zeros");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The tree builder pauses a second when a volume first shows its root, so that a window can draw it
    // before the files arrive; the driver draws nothing, and the pause would only lengthen every scan.
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Usage(stdout);
        return 0;
    }
    // --verbose (anywhere): the engine's debug lines, on standard error.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--verbose") == 0) debugchannel::SetEnabled(true);
        else argv[kept++] = argv[i];
    }
    argc = kept;
    if (argc == 2 && std::strcmp(argv[1], "--list-devices") == 0) {
        std::ostringstream list;
        const int status = ListDevices(*CreateEnumDeviceEx(), list, std::cerr);
        const std::string text = list.str();
        if (!text.empty() && ::write(STDOUT_FILENO, text.data(), text.size()) < 0) return Fail("cannot write the list");
        return status;
    }
    scan::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--deep") {
            options.quick = false;
        } else if (arg == "--types" && hasValue) {
            if (!ParseBits(argv[++i], options.types)) return Fail(std::string("bad --types value: ") + argv[i]);
        } else if (arg == "--list" && hasValue) {
            options.listPath = argv[++i];
        } else if (arg == "--partitions" && hasValue) {
            options.partitionsPath = argv[++i];
        } else if (arg == "--recover" && hasValue) {
            options.recoverDir = argv[++i];
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            Usage(stderr);
            return 2;
        } else if (options.source.empty()) {
            options.source = arg;
        } else {
            Usage(stderr);
            return 2;
        }
    }
    if (options.source.empty()) {
        Usage(stderr);
        return 2;
    }
    if (options.quick && !options.partitionsPath.empty()) return Fail("--partitions lists what a deep scan found");
    if (std::string reason; !CheckDestinations(options, reason)) return Fail(reason);
    options.showProgress = isatty(STDERR_FILENO);
    // Standard output carries only the list and the summary: anything else written there (a library's
    // stray line) goes to standard error.
    std::fflush(stdout);
    options.standardOutputFd = dup(STDOUT_FILENO);
    if (options.standardOutputFd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return Fail("cannot set up output");
    // The first Ctrl-C stops the run at its next step (and says so); a second one ends it at once.
    struct sigaction stop {};
    stop.sa_handler = scan::RequestStop;
    stop.sa_flags = SA_RESETHAND;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);

    auto session = std::make_unique<scan::ScanSession>(options);
    EndAfterScan(session, Scan(*session, options));
}
