#pragma once
// Board time in nanoseconds: the steady clock since the board was reset, or a
// virtual clock that moves only when told to.

#include <chrono>
#include <cstdint>

namespace simboard {

class BoardClock {
public:
    BoardClock() { reset(); }

    void reset()
    {
        virtual_ = false;
        virtualNs_ = 0;
        origin_ = std::chrono::steady_clock::now();
    }
    bool isVirtual() const { return virtual_; }
    // Switching keeps the current time continuous.
    void setVirtual(bool on)
    {
        if (on == virtual_) return;
        const std::int64_t t = now();
        virtual_ = on;
        if (on) {
            virtualNs_ = t;
        } else {
            origin_ = std::chrono::steady_clock::now() - std::chrono::nanoseconds(t);
        }
    }
    std::int64_t now() const
    {
        if (virtual_) return virtualNs_;
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - origin_)
            .count();
    }
    // The steady-clock instant of board time `ns` (real time only).
    std::chrono::steady_clock::time_point steadyAt(std::int64_t ns) const
    {
        return origin_ + std::chrono::nanoseconds(ns);
    }
    // Virtual time only; real time moves by itself.
    void advance(std::int64_t ns)
    {
        if (virtual_ && ns > 0) virtualNs_ += ns;
    }

private:
    bool virtual_ = false;
    std::int64_t virtualNs_ = 0;
    std::chrono::steady_clock::time_point origin_;
};

} // namespace simboard
