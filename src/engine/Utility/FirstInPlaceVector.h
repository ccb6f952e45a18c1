// A vector of small trivially copyable values that holds its first value in place: the common case of
// one value costs no allocation. A heap array is made when a second value comes, and from then on it
// holds every value (so the values always lie one after the other). Appending may move the values, as
// it may in a vector.
#pragma once

#include <cstddef>
#include <type_traits>
#include <vector>

template <class T>
class FirstInPlaceVector {
    static_assert(std::is_trivially_copyable_v<T>, "values are copied bytewise between the two places");

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    iterator begin() { return m_more.empty() ? &m_one : m_more.data(); }
    iterator end() { return begin() + size(); }
    const_iterator begin() const { return m_more.empty() ? &m_one : m_more.data(); }
    const_iterator end() const { return begin() + size(); }
    size_t size() const { return m_more.empty() ? (m_hasOne ? 1 : 0) : m_more.size(); }
    bool empty() const { return size() == 0; }
    T& front() { return *begin(); }
    const T& front() const { return *begin(); }
    T& back() { return *(end() - 1); }
    const T& back() const { return *(end() - 1); }
    T& operator[](size_t i) { return begin()[i]; }
    const T& operator[](size_t i) const { return begin()[i]; }

    void push_back(const T& value) {
        if (m_more.empty()) {
            if (!m_hasOne) {
                m_one = value;
                m_hasOne = true;
                return;
            }
            m_more.reserve(2);
            m_more.push_back(m_one);
            m_hasOne = false;
        }
        m_more.push_back(value);
    }
    void clear() {
        m_hasOne = false;
        m_more.clear();
    }
    // Removes [first, last), as vector::erase does.
    iterator erase(iterator first, iterator last) {
        if (first == last) return first;
        if (m_more.empty()) {
            m_hasOne = false;
            return &m_one;
        }
        const auto from = static_cast<std::ptrdiff_t>(first - m_more.data());
        const auto to = static_cast<std::ptrdiff_t>(last - m_more.data());
        m_more.erase(m_more.begin() + from, m_more.begin() + to);
        if (m_more.empty()) return end();
        return m_more.data() + from;
    }

private:
    T m_one{};
    bool m_hasOne = false;
    std::vector<T> m_more;  // every value once there are two or more
};
