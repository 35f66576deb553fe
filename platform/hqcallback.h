// A callback that a stream runs from the select loop: it receives the stream
// (the scanner, the timer, ...) and a user pointer given when it is set.
//
//   HqCallback tick([](HqStream *s, void *user) { ++*static_cast<int *>(user); s->alarm(200); });
//   timer.setcallback(tick, &count);
//   if (tick) ...                          // set, not empty
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

class HqStream;

class HqCallback {
public:
    using Function = std::function<void(HqStream *, void *)>;

    HqCallback() = default;                   // empty
    // Any callable taking (HqStream *, void *); a null function pointer
    // gives an empty callback.
    template <class F, class = std::enable_if_t<std::is_invocable_v<F &, HqStream *, void *> &&
                                                !std::is_same_v<std::decay_t<F>, HqCallback>>>
    HqCallback(F fn)
    {
        if constexpr (std::is_pointer_v<F>) {
            if (!fn)
                return;
        }
        fn_ = std::move(fn);
    }

    bool isset() const { return static_cast<bool>(fn_); }
    explicit operator bool() const { return isset(); }
    void clear() { fn_ = nullptr; }
    // Does nothing when empty.
    void operator()(HqStream *stream, void *user) const
    {
        if (fn_)
            fn_(stream, user);
    }

private:
    Function fn_;
};
