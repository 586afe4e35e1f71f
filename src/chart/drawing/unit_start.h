#pragma once
// Start-up and shutdown of a unit that several others build on (the string
// tables, the drawing layer): it starts with its first user and stops when
// its last one releases it. Each unit also starts itself as the program
// loads (StartAtLoad); at exit its values simply go with the program.
namespace chart {

// The string tables the units fill are built ahead of every other static
// object of the program (the units' own start-up included), whichever order
// the linker puts the files in: a unit started at load may then fill or
// read them. Not every standard library can build an empty string at
// compile time, so the order cannot rest on constant initialisation.
inline constexpr int kPlotTextsPriority = 101;

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

// For a static initialiser: starts the unit and answers true.
inline bool StartAtLoad(TUnitStart& unit) {
    unit.Use();
    return true;
}

}  // namespace chart
