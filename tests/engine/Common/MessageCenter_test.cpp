#include "engine/Common/MessageCenter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Records what it is handed: the first payload int (or -1 without payload) and when.
class RecordingReceiver : public INotifyCenter {
public:
    struct Seen {
        i32 type;
        i32 length;
        int value;
        Clock::time_point at;
    };

    bool Notify(_MSG_EVENT* event) override {
        int value = -1;
        if (event->length >= static_cast<i32>(sizeof(int))) std::memcpy(&value, event->payload, sizeof(int));
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_seen.push_back({event->type, event->length, value, Clock::now()});
        }
        m_changed.notify_all();
        return true;
    }

    // Waits until count events arrived or the time is up; answers what arrived.
    std::vector<Seen> WaitFor(size_t count, milliseconds limit = milliseconds(5000)) {
        std::unique_lock<std::mutex> hold(m_mutex);
        m_changed.wait_for(hold, limit, [&] { return m_seen.size() >= count; });
        return m_seen;
    }
    // Waits until an event with the given payload value arrived or the time is up.
    std::vector<Seen> WaitForValue(int value, milliseconds limit = milliseconds(5000)) {
        std::unique_lock<std::mutex> hold(m_mutex);
        m_changed.wait_for(hold, limit, [&] {
            for (const auto& s : m_seen)
                if (s.value == value) return true;
            return false;
        });
        return m_seen;
    }
    std::vector<Seen> Seen_() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_seen;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Seen> m_seen;
};

bool Push(CMessageCenter& centre, int value) {
    return centre.PushEvent(EVENT_BAD_SECTOR, sizeof(value), &value);
}

std::vector<int> Values(const std::vector<RecordingReceiver::Seen>& seen) {
    std::vector<int> values;
    for (const auto& s : seen) values.push_back(s.value);
    return values;
}

TEST(MessageCenter, DeliversABurstInOrderOneIntervalApart) {
    constexpr milliseconds kInterval(30);
    CMessageCenter centre;
    RecordingReceiver receiver;
    ASSERT_TRUE(centre.RegisterNotifyCenter(1, &receiver));
    centre.SetDeliveryInterval(kInterval);
    centre.StartReceiveMessage();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Push(centre, i));

    auto seen = receiver.WaitFor(5);
    centre.StopReceiveMessage();
    ASSERT_EQ(Values(seen), (std::vector<int>{0, 1, 2, 3, 4}));
    for (size_t i = 1; i < seen.size(); ++i) {
        auto gap = std::chrono::duration_cast<milliseconds>(seen[i].at - seen[i - 1].at);
        // Never sooner than one interval (later only by scheduling delays, which are not bounded here).
        EXPECT_GE(gap.count(), kInterval.count() - 1) << "event " << i;
    }
    EXPECT_EQ(seen[0].type, 1);
    EXPECT_EQ(seen[0].length, static_cast<i32>(sizeof(int)));
}

TEST(MessageCenter, ProductIntervalIsOneSecond) {
    CMessageCenter centre;
    RecordingReceiver receiver;
    centre.RegisterNotifyCenter(1, &receiver);
    centre.StartReceiveMessage();
    ASSERT_TRUE(Push(centre, 10));
    ASSERT_TRUE(Push(centre, 11));

    auto seen = receiver.WaitFor(2, milliseconds(5000));
    centre.StopReceiveMessage();
    ASSERT_EQ(Values(seen), (std::vector<int>{10, 11}));
    auto gap = std::chrono::duration_cast<milliseconds>(seen[1].at - seen[0].at);
    EXPECT_GE(gap.count(), 999);
}

TEST(MessageCenter, EventsOutsideStartAndStopAreDropped) {
    CMessageCenter centre;
    RecordingReceiver receiver;
    centre.RegisterNotifyCenter(1, &receiver);
    centre.SetDeliveryInterval(milliseconds(5));

    EXPECT_FALSE(Push(centre, 1));  // before the first start
    EXPECT_EQ(centre.QueuedCount(), 0u);

    centre.StartReceiveMessage();
    EXPECT_TRUE(centre.IsDelivering());
    ASSERT_TRUE(Push(centre, 2));
    ASSERT_EQ(receiver.WaitFor(1).size(), 1u);
    centre.StopReceiveMessage();
    EXPECT_FALSE(centre.IsDelivering());

    EXPECT_FALSE(Push(centre, 3));  // after the stop
    EXPECT_EQ(centre.QueuedCount(), 0u);

    centre.StartReceiveMessage();
    ASSERT_TRUE(Push(centre, 4));
    auto seen = receiver.WaitFor(2);
    centre.StopReceiveMessage();
    EXPECT_EQ(Values(seen), (std::vector<int>{2, 4}));
}

TEST(MessageCenter, StopIsPromptAndStartDiscardsLeftovers) {
    CMessageCenter centre;
    RecordingReceiver receiver;
    centre.RegisterNotifyCenter(1, &receiver);
    // A long interval keeps events queued; the stop must not wait for it.
    centre.SetDeliveryInterval(milliseconds(60000));
    centre.StartReceiveMessage();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Push(centre, i));

    auto before = Clock::now();
    centre.StopReceiveMessage();
    // The stop came before the next delivery was due: it did not sit out the 60 s interval.
    EXPECT_LT(Clock::now() - before, milliseconds(30000));

    centre.SetDeliveryInterval(milliseconds(5));
    centre.StartReceiveMessage();
    EXPECT_EQ(centre.QueuedCount(), 0u);
    ASSERT_TRUE(Push(centre, 100));
    auto seen = receiver.WaitForValue(100);
    centre.StopReceiveMessage();
    // Of the first burst at most the event delivered right away may have arrived; then only 100.
    auto values = Values(seen);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 100);
    EXPECT_LE(values.size(), 2u);
    if (values.size() == 2) {
        EXPECT_EQ(values[0], 0);
    }
}

TEST(MessageCenter, RefusesBadLengths) {
    CMessageCenter centre;
    centre.SetDeliveryInterval(milliseconds(60000));
    centre.StartReceiveMessage();
    int value = 5;
    EXPECT_FALSE(centre.PushEvent(EVENT_BAD_SECTOR, -1, &value));
    EXPECT_FALSE(centre.PushEvent(EVENT_BAD_SECTOR, -2147483647 - 1, &value));
    EXPECT_FALSE(centre.PushEvent(EVENT_BAD_SECTOR, 4, nullptr));
    EXPECT_TRUE(centre.PushEvent(EVENT_BAD_SECTOR, 0, nullptr));  // the volume device's event
    centre.StopReceiveMessage();
}

TEST(MessageCenter, EveryReceiverGetsEveryEventInTypeOrder) {
    CMessageCenter centre;
    RecordingReceiver two, one;
    ASSERT_TRUE(centre.RegisterNotifyCenter(2, &two));
    ASSERT_TRUE(centre.RegisterNotifyCenter(1, &one));
    centre.SetDeliveryInterval(milliseconds(5));
    centre.StartReceiveMessage();
    ASSERT_TRUE(Push(centre, 7));
    ASSERT_TRUE(centre.PushEvent(EVENT_TYPE(2), 0, nullptr));
    auto seenByTwo = two.WaitFor(2);
    centre.StopReceiveMessage();  // joins the delivery thread: what it recorded is complete

    auto seenByOne = one.Seen_();
    ASSERT_EQ(seenByOne.size(), 2u);
    ASSERT_EQ(seenByTwo.size(), 2u);
    // Receivers choose by type themselves: both get both events, type 1's receiver first.
    EXPECT_EQ(seenByOne[1].type, 2);
    EXPECT_EQ(seenByOne[1].value, -1);
    EXPECT_EQ(seenByTwo[0].value, 7);
    EXPECT_LE(seenByOne[0].at, seenByTwo[0].at);
    EXPECT_LE(seenByOne[1].at, seenByTwo[1].at);

    // By hand: a null event is ignored, an empty queue pops none.
    centre.SendEvent(nullptr);
    EXPECT_EQ(centre.PopEvent(), nullptr);
}

TEST(MessageCenter, RegistrationTable) {
    CMessageCenter centre;
    RecordingReceiver first, second;
    EXPECT_FALSE(centre.RegisterNotifyCenter(1, nullptr));
    EXPECT_TRUE(centre.RegisterNotifyCenter(1, &first));
    // A second register under a used type is refused and leaves the first in place.
    EXPECT_FALSE(centre.RegisterNotifyCenter(1, &second));
    EXPECT_EQ(centre.GetNotifyCenter(1), &first);
    EXPECT_EQ(centre.GetNotifyCenter(2), nullptr);

    centre.UpdateNotifyCenter(1, &second);
    EXPECT_EQ(centre.GetNotifyCenter(1), &second);
    centre.UpdateNotifyCenter(3, &first);
    EXPECT_EQ(centre.GetNotifyCenter(3), &first);

    centre.UnregisterNotifyCenter(1);
    centre.UnregisterNotifyCenter(42);  // absent: nothing happens
    EXPECT_EQ(centre.GetNotifyCenter(1), nullptr);
    EXPECT_EQ(centre.GetNotifyCenter(3), &first);
}

TEST(MessageCenter, DestructionStopsTheDeliveryThread) {
    RecordingReceiver receiver;
    auto before = Clock::now();
    {
        CMessageCenter centre;
        centre.RegisterNotifyCenter(1, &receiver);
        centre.SetDeliveryInterval(milliseconds(60000));
        centre.StartReceiveMessage();
        for (int i = 0; i < 3; ++i) Push(centre, i);
    }
    // The queued events are freed (the sanitizer build checks), and the thread did not sit out its
    // 60 s wait: the destruction came before the next delivery was due.
    EXPECT_LT(Clock::now() - before, milliseconds(30000));
    EXPECT_LE(receiver.Seen_().size(), 1u);
}

TEST(MessageCenter, TheSingletonStartsNoThreadOfItsOwn) {
    CMessageCenter* centre = CMessageCenter::Instance();
    EXPECT_EQ(centre, CMessageCenter::Instance());
    EXPECT_FALSE(centre->IsDelivering());
    EXPECT_FALSE(Push(*centre, 1));
}

}  // namespace
