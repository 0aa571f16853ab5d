// Ownership of a handle: one template, in the manner of WIL's unique_any. The
// handle kind, the function that closes it and the "no handle" value are part
// of the type; an alias per kind names it (see WindowsHeaders.h). Also the
// scope guard that runs a clean-up however a block is left.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace velmora {

template <typename H, auto Close, std::intptr_t Invalid = 0>
class unique_any {
public:
    static H invalid() noexcept {
        if constexpr (std::is_pointer_v<H>) return reinterpret_cast<H>(Invalid);
        else return static_cast<H>(Invalid);
    }

    unique_any() noexcept = default;
    explicit unique_any(H handle) noexcept : handle_(handle) {}
    unique_any(unique_any&& other) noexcept : handle_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    ~unique_any() { reset(); }

    H get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != invalid(); }
    // Closes the handle held, if any, and takes the new one.
    void reset(H handle = invalid()) noexcept {
        const H old = std::exchange(handle_, handle);
        if (old != invalid()) Close(old);
    }
    // Gives the handle up without closing it.
    H release() noexcept { return std::exchange(handle_, invalid()); }

private:
    H handle_ = invalid();
};

// Runs a function when the guard goes out of scope, however the scope is left.
template <typename F>
class scope_exit {
public:
    explicit scope_exit(F f) : f_(std::move(f)) {}
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;
    ~scope_exit() { f_(); }

private:
    F f_;
};

}  // namespace velmora
