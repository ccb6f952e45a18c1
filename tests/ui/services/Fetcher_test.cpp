// Fetching with a time-out on the kit's clock: the completion runs once, on the main thread, with the
// answer or as timed out when the clock passes the time-out first (the late answer dropped, the
// request cancelled). The network fetcher reads file and http addresses off the main thread; a
// server that never answers leaves the main thread turning until the time-out.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <functional>
#include <thread>

#include "ui/kit/Fetcher.h"
#include "ui/kit/Scheduler.h"
#include "uisupport/FakeServices.h"
#include "uisupport/UiTest.h"

namespace {

using kit::FetchResult;
using Status = kit::FetchResult::Status;

// What completions a test saw, and on which thread.
struct Completions {
    std::vector<FetchResult> results;
    bool allOnMainThread = true;
    kit::Fetcher::Completion take() {
        return [this](const FetchResult& result) {
            allOnMainThread = allOnMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
            results.push_back(result);
        };
    }
};

// Turns the main thread until condition holds (real time, bounded: it waits for other threads).
bool TurnUntil(const std::function<bool()>& condition) {
    QDeadlineTimer patience(60000);
    while (!condition()) {
        if (patience.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

TEST(Fetcher, AnAnswerCompletesOnceOnTheMainThreadAndTheTimeOutThenDoesNothing) {
    kit::ScopedManualClock clock;
    uitest::RecordingFetcher fetcher;
    Completions seen;
    kit::Fetcher::current().fetch("https://example.invalid/versions.plist", 10, seen.take());
    ASSERT_EQ(fetcher.requests().size(), 1u);
    EXPECT_EQ(fetcher.requests()[0].url, "https://example.invalid/versions.plist");
    // Answered from a worker thread; the completion waits for the main thread.
    std::thread([&] { fetcher.answerBody(0, "<plist/>"); }).join();
    EXPECT_TRUE(seen.results.empty());
    uitest::ProcessEvents();
    ASSERT_EQ(seen.results.size(), 1u);
    EXPECT_EQ(seen.results[0].status, Status::Done);
    EXPECT_EQ(seen.results[0].body, "<plist/>");
    EXPECT_TRUE(seen.allOnMainThread);
    clock.advance(30);
    fetcher.answerBody(0, "again");
    uitest::ProcessEvents();
    EXPECT_EQ(seen.results.size(), 1u);
    EXPECT_FALSE(fetcher.requests()[0].cancelled);
    EXPECT_EQ(fetcher.pendingCount(), 0u);
}

TEST(Fetcher, AFetchThatNeverAnswersTimesOutOnceWhenTheClockPassesIt) {
    kit::ScopedManualClock clock;
    uitest::RecordingFetcher fetcher;
    Completions seen;
    fetcher.fetch("https://example.invalid/versions.plist", 10, seen.take());
    clock.advance(9.999);
    uitest::ProcessEvents();
    EXPECT_TRUE(seen.results.empty());
    clock.advance(0.001);
    ASSERT_EQ(seen.results.size(), 1u);
    EXPECT_EQ(seen.results[0].status, Status::TimedOut);
    EXPECT_TRUE(fetcher.requests()[0].cancelled);
    // The answer that comes too late is dropped.
    fetcher.answerBody(0, "late");
    clock.advance(30);
    uitest::ProcessEvents();
    EXPECT_EQ(seen.results.size(), 1u);
    // A fetcher that goes drops what is still pending: nothing completes afterwards.
    Completions never;
    {
        uitest::RecordingFetcher gone;
        gone.fetch("https://example.invalid/a", 5, never.take());
        gone.answerBody(0, "queued before the end");
    }
    clock.advance(10);
    uitest::ProcessEvents();
    EXPECT_TRUE(never.results.empty());
}

TEST(NetworkFetcher, FileAddressesAreReadAndOtherSchemesRefused) {
    kit::ScopedManualClock clock;
    kit::NetworkFetcher fetcher;
    QTemporaryDir dir;
    const QString small = dir.filePath("versions.plist");
    const QString large = dir.filePath("large.bin");
    {
        QFile file(small);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<plist version=\"1.0\"/>\n");
        QFile big(large);
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        big.write(QByteArray(kit::NetworkFetcher::kMaxBytes + 1, 'x'));
    }
    struct Case {
        std::string url;
        Status status;
        std::string body;
    };
    const Case cases[] = {
        {QUrl::fromLocalFile(small).toString().toStdString(), Status::Done, "<plist version=\"1.0\"/>\n"},
        {QUrl::fromLocalFile(dir.filePath("missing.plist")).toString().toStdString(), Status::Failed, ""},
        {QUrl::fromLocalFile(large).toString().toStdString(), Status::Failed, ""},
        {"ftp://example.invalid/versions", Status::Failed, ""},
        {"", Status::Failed, ""},
        {"not a url at all", Status::Failed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        Completions seen;
        fetcher.fetch(c.url, 30, seen.take());
        ASSERT_TRUE(TurnUntil([&] { return !seen.results.empty(); }));
        uitest::ProcessEvents();
        ASSERT_EQ(seen.results.size(), 1u);
        EXPECT_EQ(seen.results[0].status, c.status) << seen.results[0].error;
        EXPECT_EQ(seen.results[0].body, c.body);
        if (c.status == Status::Failed) {
            EXPECT_FALSE(seen.results[0].error.empty());
        }
        EXPECT_TRUE(seen.allOnMainThread);
    }
}

// A server on the loopback that takes one connection, reads the request and never answers; it
// notices when the client closes.
class SilentServer {
public:
    SilentServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 1) != 0 || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0) return;
            m_accepted = true;
            char buffer[4096];
            while (::recv(client, buffer, sizeof buffer, 0) > 0) m_requestSeen = true;
            m_closedByClient = true;
            ::close(client);
        });
    }
    ~SilentServer() {
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        if (m_thread.joinable()) m_thread.join();
    }
    int port() const { return m_port; }
    std::atomic<bool> m_accepted{false};
    std::atomic<bool> m_requestSeen{false};
    std::atomic<bool> m_closedByClient{false};

private:
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

TEST(NetworkFetcher, AServerThatNeverAnswersKeepsTheMainThreadTurningUntilTheTimeOut) {
    kit::ScopedManualClock clock;
    SilentServer server;
    ASSERT_NE(server.port(), 0);
    Completions seen;
    int ticks = 0;
    const auto ticker = kit::Scheduler::current().scheduledTimer(1, true, [&](kit::Timer&) { ++ticks; });
    {
        kit::NetworkFetcher fetcher;
        fetcher.fetch("http://127.0.0.1:" + std::to_string(server.port()) + "/versions.plist", 10, seen.take());
        ASSERT_TRUE(TurnUntil([&] { return server.m_requestSeen.load(); }));
        for (int second = 1; second < 10; ++second) {
            clock.advance(1);
            uitest::ProcessEvents();
            EXPECT_EQ(ticks, second);
        }
        EXPECT_TRUE(seen.results.empty());
        clock.advance(1);
        ASSERT_EQ(seen.results.size(), 1u);
        EXPECT_EQ(seen.results[0].status, Status::TimedOut);
        // The request is cancelled: its connection closes.
        EXPECT_TRUE(TurnUntil([&] { return server.m_closedByClient.load(); }));
        clock.advance(30);
        uitest::ProcessEvents();
        EXPECT_EQ(seen.results.size(), 1u);
        EXPECT_EQ(ticks, 40);
        EXPECT_TRUE(seen.allOnMainThread);
    }
    ticker->invalidate();
}

}  // namespace
