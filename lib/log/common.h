// Base types and ownership helpers shared by every layer.
//
// The public API of the libraries is C-shaped: global functions that return
// an error code and hand results back through out-pointers.  Inside, objects
// are owned with RAII: `owned<T>` holds a pointer and releases it through the
// type's own `_free(&p)` function, found by the `lc_owned_free` overload that
// each module declares next to its type (see LC_OWNED_FREE).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

typedef uint8_t uint8;
typedef int8_t int8;
typedef uint16_t uint16;
typedef int16_t int16;
typedef uint32_t uint32;
typedef int32_t int32;
typedef uint64_t uint64;
typedef int64_t int64;
typedef float float32;
typedef double float64;
typedef int32_t tbool; // 32-bit truth value, 0 or 1

// Declares how owned<type> releases its object: `free_fn(type **)` must accept
// a pointer to null and null the pointer.
#define LC_OWNED_FREE(type, free_fn)                                                               \
    inline void lc_owned_free(type **p)                                                            \
    {                                                                                              \
        (void)free_fn(p);                                                                          \
    }

// Move-only owner of a heap object released by its module's `_free`.
template <class T> class owned
{
  public:
    owned() noexcept = default;
    explicit owned(T *p) noexcept : p_(p) {}
    owned(const owned &) = delete;
    owned &operator=(const owned &) = delete;
    owned(owned &&o) noexcept : p_(o.release()) {}
    owned &operator=(owned &&o) noexcept
    {
        if (this != &o) reset(o.release());
        return *this;
    }
    ~owned() { reset(); }

    T *get() const noexcept { return p_; }
    T *operator->() const noexcept { return p_; }
    T &operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Address of the held pointer, for `_new(&ret)` style out-parameters;
    // whatever was held is released first.
    T **out() noexcept
    {
        reset();
        return &p_;
    }
    T *release() noexcept { return std::exchange(p_, nullptr); }
    void reset(T *p = nullptr) noexcept
    {
        T *old = std::exchange(p_, p);
        if (old) lc_owned_free(&old);
    }

  private:
    T *p_ = nullptr;
};

// Runs a clean-up action at scope exit unless dismissed; for undoing what is
// not memory (a registration, a descriptor) on early returns.
template <class F> class lc_scope_guard
{
  public:
    explicit lc_scope_guard(F f) noexcept : f_(std::move(f)) {}
    lc_scope_guard(const lc_scope_guard &) = delete;
    lc_scope_guard &operator=(const lc_scope_guard &) = delete;
    ~lc_scope_guard()
    {
        if (armed_) f_();
    }
    void dismiss() noexcept { armed_ = false; }

  private:
    F f_;
    bool armed_ = true;
};
