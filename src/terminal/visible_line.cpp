#include "terminal/visible_line.h"

#include <algorithm>
#include <limits>

namespace terminal {

std::string VisibleLineStart(std::size_t Guess, int Width,
                             const std::function<std::string(std::size_t)>& Take,
                             const std::function<int(const std::string&)>& Measure) {
    constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
    std::size_t n = std::max<std::size_t>(Guess, 1);
    for (;;) {
        std::string text = Take(n);
        if (text.size() < n || n == kAll || Measure(text) >= Width) return text;
        n = n > kAll / 2 ? kAll : n * 2;
    }
}

}  // namespace terminal
