#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/Notify/CMyNotifyCenter.h"
#include "bridge/Notify/CProgressNotify.h"
#include "engine/Common/MessageCenter.h"
#include "platform/foundation/NotificationCenter.h"
#include "support/Wait.h"

namespace {

using brelvox::foundation::Notification;
using brelvox::foundation::NotificationCenter;
using brelvox::foundation::PumpedMainThreadQueue;
using std::chrono::milliseconds;
using testsupport::WaitUntil;

// Keeps what each call brought: the type and a copy of the payload (none for null).
class RecordingObserver : public INotifyObserver {
public:
    explicit RecordingObserver(size_t payloadBytes = 0, std::vector<int>* order = nullptr, int tag = 0)
        : m_payloadBytes(payloadBytes), m_order(order), m_tag(tag) {}
    void Notify(int type, void* data) override {
        std::lock_guard<std::mutex> hold(m_mutex);
        std::optional<std::string> payload;
        if (data) payload = std::string(static_cast<const char*>(data), m_payloadBytes);
        m_calls.push_back({type, payload});
        if (m_order) m_order->push_back(m_tag);
    }
    struct Call {
        int type;
        std::optional<std::string> payload;
    };
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_calls;
    }

private:
    size_t m_payloadBytes;
    std::vector<int>* m_order;
    int m_tag;
    std::mutex m_mutex;
    std::vector<Call> m_calls;
};

// An event block as the engine queue makes it: 12 bytes + payload.
std::unique_ptr<_MSG_EVENT, void (*)(void*)> MakeEvent(int type, const std::string& payload) {
    auto* event = static_cast<_MSG_EVENT*>(std::calloc(1, 12 + payload.size() + 1));
    event->type = type;
    event->length = static_cast<i32>(payload.size());
    std::memcpy(event->payload, payload.data(), payload.size());
    return {event, std::free};
}

TEST(CMyNotifyCenter, FansEventsOutWithACopyOfThePayload) {
    CMyNotifyCenter centre;
    std::vector<int> order;
    RecordingObserver first(4, &order, 1), second(4, &order, 2);
    centre.AddObserver(&first);
    centre.AddObserver(&second);
    centre.AddObserver(nullptr);  // ignored
    EXPECT_EQ(centre.ObserverCount(), 2u);

    EXPECT_FALSE(centre.Notify(nullptr));
    EXPECT_TRUE(centre.Notify(MakeEvent(1, "abcd").get()));
    EXPECT_TRUE(centre.Notify(MakeEvent(3, "").get()));

    auto calls = first.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].type, 1);
    EXPECT_EQ(calls[0].payload, std::optional<std::string>("abcd"));
    // A payload length of 0 leaves the centre without payload: observers get null.
    EXPECT_EQ(calls[1].type, 3);
    EXPECT_EQ(calls[1].payload, std::nullopt);
    EXPECT_EQ(second.Calls().size(), 2u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 1, 2}));
}

TEST(CMyNotifyCenter, RemoveObserverTakesTheFirstOccurrenceOnly) {
    CMyNotifyCenter centre;
    RecordingObserver a, b;
    centre.AddObserver(&a);
    centre.AddObserver(&b);
    centre.AddObserver(&a);
    centre.RemoveObserver(&a);
    EXPECT_EQ(centre.ObserverCount(), 2u);
    centre.RemoveObserver(&a);
    centre.RemoveObserver(&a);  // absent: nothing happens
    EXPECT_EQ(centre.ObserverCount(), 1u);
    centre.NotifyObserver(5);
    EXPECT_TRUE(a.Calls().empty());
    ASSERT_EQ(b.Calls().size(), 1u);
    EXPECT_EQ(b.Calls()[0].type, 5);
}

// The scan's set-up around the process-wide engine queue and notification centre, undone at the end.
class BadSectorNotices : public testing::Test {
protected:
    void SetUp() override {
        NotificationCenter::Default().SetMainThreadQueue(&m_mainThread);
        NotificationCenter::Default().AddObserver(this, kBadSectorNotify, nullptr,
                                                  [this](const Notification&) { ++m_posts; });
        m_queue->SetDeliveryInterval(milliseconds(5));
        m_queue->StartReceiveMessage();
    }
    void TearDown() override {
        m_queue->StopReceiveMessage();
        m_queue->SetDeliveryInterval(milliseconds(1000));
        NotificationCenter::Default().RemoveObserver(this);
        NotificationCenter::Default().SetMainThreadQueue(nullptr);
    }
    bool WaitForPosts(size_t count) {
        return WaitUntil([&] { return m_mainThread.Pending() >= count; });
    }

    CMessageCenter* m_queue = CMessageCenter::Instance();
    PumpedMainThreadQueue m_mainThread;
    int m_posts = 0;
};

TEST_F(BadSectorNotices, AFailedSectorReadReachesTheBadSectorObserver) {
    auto notify = std::make_unique<CProgressNotify>();
    ASSERT_NE(m_queue->GetNotifyCenter(1), nullptr);
    // A second observer on the same centre sees the payloads.
    auto* centre = dynamic_cast<CMyNotifyCenter*>(m_queue->GetNotifyCenter(1));
    ASSERT_NE(centre, nullptr);
    RecordingObserver payloads(2);
    centre->AddObserver(&payloads);
    // The centre outlives the test: never leave it a dangling observer, whatever fails below.
    std::unique_ptr<RecordingObserver, std::function<void(RecordingObserver*)>> remove(
        &payloads, [centre](RecordingObserver* o) { centre->RemoveObserver(o); });

    // Two bad sectors, and an event of another type between them.
    ASSERT_TRUE(m_queue->PushEvent(EVENT_BAD_SECTOR, 0, nullptr));
    ASSERT_TRUE(m_queue->PushEvent(EVENT_TYPE(2), 2, "xy"));
    ASSERT_TRUE(m_queue->PushEvent(EVENT_BAD_SECTOR, 0, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return payloads.Calls().size() == 3; }));
    ASSERT_TRUE(WaitForPosts(2));

    // Nothing reached the observers on the delivery thread: posts wait for the main thread.
    EXPECT_EQ(m_posts, 0);
    EXPECT_EQ(m_mainThread.Pump(), 2u);
    EXPECT_EQ(m_posts, 2);

    auto calls = payloads.Calls();
    EXPECT_EQ(calls[0].type, 1);
    EXPECT_EQ(calls[0].payload, std::nullopt);
    EXPECT_EQ(calls[1].type, 2);
    EXPECT_EQ(calls[1].payload, std::optional<std::string>("xy"));
}

TEST_F(BadSectorNotices, TeardownLeavesNoObserverAndNoReceiver) {
    auto notify = std::make_unique<CProgressNotify>();
    CMyNotifyCenter* centre = dynamic_cast<CMyNotifyCenter*>(m_queue->GetNotifyCenter(1));
    ASSERT_NE(centre, nullptr);
    EXPECT_EQ(centre->ObserverCount(), 1u);

    // Destroyed while the queue still delivers (the order in which the operations layer tears down): safe.
    ASSERT_TRUE(m_queue->PushEvent(EVENT_BAD_SECTOR, 0, nullptr));
    notify.reset();
    EXPECT_EQ(centre->ObserverCount(), 0u);
    EXPECT_EQ(m_queue->GetNotifyCenter(1), nullptr);

    // Later events reach nobody.
    m_mainThread.Pump();
    m_posts = 0;
    ASSERT_TRUE(m_queue->PushEvent(EVENT_BAD_SECTOR, 0, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return m_queue->QueuedCount() == 0; }));
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(m_mainThread.Pump(), 0u);
    EXPECT_EQ(m_posts, 0);

    // Scan after scan, the same centre is reused: nothing accumulates.
    for (int scan = 0; scan < 3; ++scan) {
        CProgressNotify again;
        EXPECT_EQ(m_queue->GetNotifyCenter(1), centre);
        EXPECT_EQ(centre->ObserverCount(), 1u);
    }
    EXPECT_EQ(m_queue->GetNotifyCenter(1), nullptr);
}

TEST_F(BadSectorNotices, AReceiverOfAnotherKindUnderTypeOneIsReplaced) {
    struct Other : INotifyCenter {
        bool Notify(_MSG_EVENT*) override { return true; }
    } other;
    ASSERT_TRUE(m_queue->RegisterNotifyCenter(1, &other));
    {
        CProgressNotify notify;
        EXPECT_NE(m_queue->GetNotifyCenter(1), &other);
        ASSERT_TRUE(m_queue->PushEvent(EVENT_BAD_SECTOR, 0, nullptr));
        ASSERT_TRUE(WaitForPosts(1));
    }
    EXPECT_EQ(m_queue->GetNotifyCenter(1), nullptr);
    m_mainThread.Pump();
    EXPECT_EQ(m_posts, 1);
}

TEST_F(BadSectorNotices, WithoutAMainThreadQueueTheNoticeIsDroppedNotBlocked) {
    NotificationCenter::Default().SetMainThreadQueue(nullptr);
    CProgressNotify notify;
    ASSERT_TRUE(m_queue->PushEvent(EVENT_BAD_SECTOR, 0, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return m_queue->QueuedCount() == 0; }));
    // The queue keeps delivering: a second event is taken as well.
    ASSERT_TRUE(m_queue->PushEvent(EVENT_BAD_SECTOR, 0, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return m_queue->QueuedCount() == 0; }));
    EXPECT_EQ(m_posts, 0);
}

}  // namespace
