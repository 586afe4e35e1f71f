#pragma once
// What the fuzz targets share: a failed check aborts (the fuzzer then keeps
// the input), a folder of the process's own for readers that read files,
// whole-file writes and reads, and the application object for targets that
// make windows, with every message box and dialog answered at once.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/vcl/dialogs.h"
#include "platform/vcl/forms.h"
#include "support/temp_dir.h"

namespace fuzz_support {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

// Equal to 15 significant digits: within half a unit of the 15th digit of
// the larger (and the two steps of a double that its text may land off by),
// or as close as the smallest subnormal steps allow.
inline bool Same15(double a, double b) {
    const double scale = std::max(std::fabs(a), std::fabs(b));
    const double step = std::nextafter(scale, INFINITY) - scale;
    return std::fabs(a - b) <= scale * 5e-15 + 2 * step || std::fabs(a - b) <= DBL_TRUE_MIN;
}

// The calendar's date-times (0001-01-01 up to the last millisecond of
// 9999-12-31) from any bits: a stamp the program could have taken.
inline double CalendarTime(std::uint64_t bits) {
    constexpr double kFirst = -693593.0, kSpan = 2958466.0 + 693593.0 - 1.0 / 86400000.0;
    return kFirst + static_cast<double>(bits % (1ull << 52)) / static_cast<double>(1ull << 52) * kSpan;
}

inline std::string_view Bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A file of the process's own folder (removed when the process ends).
inline std::string File(const std::string& name) {
    static const test_support::TempDir folder;
    return folder.File(name);
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The application (offscreen) with no modal loop anywhere: message boxes
// answer OK, dialogs and input questions are cancelled.
inline void QuietApplication() {
    vcl::EnsureApplication();
    vcl::Application->MessageHook = [](const vcl::TMessageRequest&) { return vcl::IDOK; };
    vcl::Application->DialogHook = [](vcl::TCommonDialog&) { return false; };
}

}  // namespace fuzz_support
