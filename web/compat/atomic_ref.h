// The C++ library of the WebAssembly toolchain predates std::atomic_ref; the core uses it only on
// plain integers (load, store, exchange, fetch_add). This stands in for it, through the compiler's
// atomic built-ins, when the library lacks it. Included before every source of the web build.
#pragma once

#include <atomic>

#if !defined(__cpp_lib_atomic_ref)
namespace std {
template <class T> class atomic_ref {
  public:
    explicit atomic_ref(T& object) : p_(&object) {}
    T load(memory_order order = memory_order_seq_cst) const {
        return __atomic_load_n(p_, int(order));
    }
    void store(T value, memory_order order = memory_order_seq_cst) const {
        __atomic_store_n(p_, value, int(order));
    }
    T exchange(T value, memory_order order = memory_order_seq_cst) const {
        return __atomic_exchange_n(p_, value, int(order));
    }
    T fetch_add(T value, memory_order order = memory_order_seq_cst) const {
        return __atomic_fetch_add(p_, value, int(order));
    }

  private:
    T* p_;
};
} // namespace std
#endif
