#pragma once
// Tells the loop's owner when a pipe or device opened without waiting, that
// was full, can take more: so that a writer keeps what it could not write
// and goes on with it later, instead of waiting inside its caller. A reader
// that takes nothing never makes the descriptor ready, so the watch also
// comes back by the clock, for the writer to judge how long it has waited.
#include <chrono>
#include <functional>
#include <memory>

namespace win {

class TWriteReadyWatch {
public:
    // Ready runs from the loop, at most once per Arm.
    TWriteReadyWatch(int Fd, std::function<void()> Ready);
    ~TWriteReadyWatch();
    TWriteReadyWatch(const TWriteReadyWatch&) = delete;
    TWriteReadyWatch& operator=(const TWriteReadyWatch&) = delete;

    // Ready runs once the descriptor can take more, or once Within has
    // passed, whichever comes first; arming again replaces the last one.
    void Arm(std::chrono::milliseconds Within);
    void Disarm();
    bool Armed() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace win
