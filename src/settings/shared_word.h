// The words the plug-in shares between threads (settings, run flags, the close stamp).
//
// In the DLL and the ordinary native builds a shared word is exactly a std::atomic. The
// interleaving explorer of the native tests builds the same sources with QUARVEL_EXPLORED: then
// every load, store and read-modify-write comes after a point where the explorer may let another
// thread run first.
#pragma once

#include <atomic>

#ifndef QUARVEL_EXPLORED

namespace quarvel {
template <class T>
using Shared = std::atomic<T>;
}  // namespace quarvel

#else

namespace explore {
void switch_point();
}

namespace quarvel {

template <class T>
class Shared {
  public:
    using order = std::memory_order;
    constexpr Shared(T value = T{}) noexcept : word_(value) {}
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    T load(order o = std::memory_order_seq_cst) const { return (point(), word_.load(o)); }
    void store(T value, order o = std::memory_order_seq_cst) { (point(), word_.store(value, o)); }
    T exchange(T value) { return (point(), word_.exchange(value)); }
    T fetch_add(T value) { return (point(), word_.fetch_add(value)); }
    T fetch_sub(T value) { return (point(), word_.fetch_sub(value)); }
    T fetch_and(T value) { return (point(), word_.fetch_and(value)); }
    bool compare_exchange_strong(T& expected, T desired, order = std::memory_order_seq_cst) {
        return (point(), word_.compare_exchange_strong(expected, desired));
    }
    bool compare_exchange_weak(T& expected, T desired, order o = std::memory_order_seq_cst) {
        return compare_exchange_strong(expected, desired, o);
    }
    operator T() const { return load(); }
    T operator=(T value) {
        store(value);
        return value;
    }

  private:
    static int point() {
        explore::switch_point();
        return 0;
    }
    std::atomic<T> word_;
};

}  // namespace quarvel

#endif
