#pragma once
// Blocks of the task allocator that a call hands to its caller, held by the simulator until the
// call succeeds, so that no failure path leaks one.

#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#include "com/malloc.h"
#include "com/types.h"

// An array of count zeroed elements from the task allocator, freed unless released.
template <class T>
class TaskArray {
    static_assert(std::is_trivially_copyable_v<T>, "task memory holds plain structures");

  public:
    explicit TaskArray(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            return;
        }
        // A block even for no elements, so that callers always get something to free.
        const std::size_t bytes = count == 0 ? 1 : count * sizeof(T);
        p_ = static_cast<T*>(CoTaskMemAlloc(bytes));
        if (p_ != nullptr) {
            std::memset(static_cast<void*>(p_), 0, bytes);
        }
    }
    TaskArray(const TaskArray&) = delete;
    TaskArray& operator=(const TaskArray&) = delete;
    ~TaskArray() { CoTaskMemFree(p_); }

    explicit operator bool() const { return p_ != nullptr; }
    T& operator[](std::size_t i) { return p_[i]; }
    T* Get() { return p_; }
    T* Release() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

  private:
    T* p_ = nullptr;
};

// A zero-terminated copy of text from the task allocator; null when out of memory.
inline LPWSTR TaskString(std::u16string_view text) {
    auto* const p = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (p != nullptr) {
        std::memcpy(p, text.data(), text.size() * sizeof(OLECHAR));
        p[text.size()] = 0;
    }
    return p;
}
