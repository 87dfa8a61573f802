// Base types and ownership helpers shared by every layer.
//
// The public API of the libraries is C-shaped: global functions that return
// an error code and hand results back through out-pointers.  Inside, objects
// are owned with RAII: `owned<T>` holds a pointer and releases it through the
// type's own `_free(&p)` function, found by the `lc_owned_free` overload that
// each module declares next to its type (see LC_OWNED_FREE).
//
// Out of memory.  Running out of memory is an ordinary failure, reported
// like any other and never fatal inside a library:
// - every heap object is made with `new (std::nothrow)` (or malloc/calloc
//   for raw byte blocks traded with C callers) and is owned at once, in the
//   same statement, by `owned<T>` (or by `lc_malloc_ptr` / a unique_ptr with
//   the module's own free); the only `delete` or `free` of an object is in
//   its module's `_free` (or the owner's deleter);
// - a null result is reported with bail_null ("Unexpected NULL",
//   lc_err_unexpected_null);
// - no exception crosses the C-shaped API: standard containers are used
//   only inside a module, and where one may grow the growth runs inside
//   lc_grow, whose null result is reported with bail_null in the same way;
// - a descriptor is held by lc_unique_fd from the moment it is opened
//   until it is handed over with release().
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <unistd.h>
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

// Owner of a raw malloc'ed block, released with free().
struct lc_free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <class T> using lc_malloc_ptr = std::unique_ptr<T, lc_free_deleter>;

// Runs `grow`, which may allocate inside a standard container, and returns
// `obj`, or null when the allocation failed: report it with bail_null.
// Whatever `grow` changed before it failed stays as the container's own
// exception guarantee left it.
template <class T, class F> [[nodiscard]] T *lc_grow(T *obj, F &&grow) noexcept
{
    try {
        grow();
        return obj;
    } catch (const std::bad_alloc &) {
        return nullptr;
    } catch (const std::length_error &) {
        return nullptr;
    }
}

// Owns a file descriptor: closes it on destruction unless released.
// Move-only; -1 means empty.
class lc_unique_fd
{
  public:
    lc_unique_fd() noexcept = default;
    explicit lc_unique_fd(int fd) noexcept : fd_(fd) {}
    lc_unique_fd(const lc_unique_fd &) = delete;
    lc_unique_fd &operator=(const lc_unique_fd &) = delete;
    lc_unique_fd(lc_unique_fd &&o) noexcept : fd_(o.release()) {}
    lc_unique_fd &operator=(lc_unique_fd &&o) noexcept
    {
        if (this != &o) reset(o.release());
        return *this;
    }
    ~lc_unique_fd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Hands the descriptor out; the guard is empty afterwards.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes what is held (keeping errno) and holds `fd` instead.
    void reset(int fd = -1) noexcept
    {
        const int old = std::exchange(fd_, fd);
        if (old >= 0) {
            const int saved = errno;
            (void)::close(old);
            errno = saved;
        }
    }

  private:
    int fd_ = -1;
};
