// Ownership of a handle: one template, in the manner of WIL's unique_any. The
// handle kind, the closer and the "no handle" value are part of the type; an
// alias per kind names it (see WindowsHeaders.h, and unitOrvCInstallUtils.h for
// the handles of the process seam). Also the scope guard that runs a clean-up
// however a block is left.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace velmora {

// A closer closes one handle (operator()) and reads and sets the thread's last
// error (last_error, set_last_error), so that a close on the way out of a
// failed call leaves that call's error for whoever reads it next. It may hold
// state, such as the seam the handle came from.
template <typename H, typename Closer, std::intptr_t Invalid = 0>
class unique_any {
public:
    static H invalid() noexcept {
        if constexpr (std::is_pointer_v<H>) return reinterpret_cast<H>(Invalid);
        else return static_cast<H>(Invalid);
    }

    unique_any() noexcept = default;
    explicit unique_any(H handle, Closer closer = Closer()) noexcept : handle_(handle), closer_(std::move(closer)) {}
    unique_any(unique_any&& other) noexcept : handle_(other.release()), closer_(other.closer_) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) {
            reset();
            closer_ = other.closer_;
            handle_ = other.release();
        }
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    ~unique_any() { reset(); }

    H get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != invalid(); }
    // Closes the handle held, if any, and takes the new one. The last error is
    // the same after as before.
    void reset(H handle = invalid()) noexcept {
        const H old = std::exchange(handle_, handle);
        if (old == invalid()) return;
        const auto error = closer_.last_error();
        closer_(old);
        closer_.set_last_error(error);
    }
    // Gives the handle up without closing it.
    H release() noexcept { return std::exchange(handle_, invalid()); }

private:
    H handle_ = invalid();
    Closer closer_;
};

// For the closer of a seam whose errors are answered as codes, so that no close
// changes what its callers read: the registry's.
struct no_last_error {
    static long last_error() noexcept { return 0; }
    static void set_last_error(long) noexcept {}
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
