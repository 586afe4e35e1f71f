#pragma once
// Start-up and shutdown of a unit that several others build on (the string
// tables, the drawing layer): it starts with its first user and stops with
// its last. Each unit starts itself before main and stops after it.
namespace chart {

class TUnitStart {
public:
    constexpr TUnitStart(void (*start)(), void (*stop)()) : start_(start), stop_(stop) {}
    void Use() {
        if (users_++ == 0) start_();
    }
    void Release() {
        if (users_ > 0 && --users_ == 0) stop_();
    }

private:
    void (*start_)();
    void (*stop_)();
    int users_ = 0;
};

// Holds one use of a unit for as long as it lives.
class TUnitHold {
public:
    explicit TUnitHold(TUnitStart& unit) : unit_(unit) { unit_.Use(); }
    ~TUnitHold() { unit_.Release(); }
    TUnitHold(const TUnitHold&) = delete;
    TUnitHold& operator=(const TUnitHold&) = delete;

private:
    TUnitStart& unit_;
};

}  // namespace chart
