#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/Utility/FirstInPlaceVector.h"

namespace {

template <class T>
std::vector<T> Contents(const FirstInPlaceVector<T>& v) {
    return std::vector<T>(v.begin(), v.end());
}

}  // namespace

// Random appends, range erasures and clears, each checked against a std::vector doing the same: the
// moves between the in-place value and the heap array (one to two values, back to none, again) keep
// every value, its order and the answers of size, front, back and operator[].
TEST(FirstInPlaceVector, BehavesAsAVector) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        FirstInPlaceVector<long> v;
        std::vector<long> model;
        for (int step = 0; step < 60; ++step) {
            const unsigned op = random() % 10;
            if (op < 6) {
                const long value = static_cast<long>(random() % 1000) - 500;
                v.push_back(value);
                model.push_back(value);
            } else if (op < 9 && !model.empty()) {
                const size_t from = random() % model.size();
                const size_t to = from + random() % (model.size() - from + 1);
                const auto at = v.erase(v.begin() + from, v.begin() + to);
                const auto modelAt = model.erase(model.begin() + from, model.begin() + to);
                ASSERT_EQ(at - v.begin(), modelAt - model.begin());
            } else if (op == 9) {
                v.clear();
                model.clear();
            }
            ASSERT_EQ(Contents(v), model) << "round " << round << " step " << step;
            ASSERT_EQ(v.size(), model.size());
            ASSERT_EQ(v.empty(), model.empty());
            if (!model.empty()) {
                EXPECT_EQ(v.front(), model.front());
                EXPECT_EQ(v.back(), model.back());
                EXPECT_EQ(v[model.size() / 2], model[model.size() / 2]);
            }
        }
    }
}

TEST(FirstInPlaceVector, OneValueIsHeldInPlace) {
    FirstInPlaceVector<int> v;
    v.push_back(4);
    // The value lies inside the object: no heap array was made for it.
    const auto* self = reinterpret_cast<const char*>(&v);
    const auto* value = reinterpret_cast<const char*>(&v.front());
    EXPECT_TRUE(value >= self && value < self + sizeof(v));
    v.push_back(5);
    EXPECT_EQ(Contents(v), (std::vector<int>{4, 5}));
    v.front() = 9;  // writes through to the heap array that now holds both
    EXPECT_EQ(Contents(v), (std::vector<int>{9, 5}));
}
