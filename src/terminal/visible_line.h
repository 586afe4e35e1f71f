#pragma once
// What of a receive-list line can be seen: the list has no horizontal scroll
// bar, so a line shows only what fits from its start. Drawing and measuring
// take only that much of the line, so a line of any length (a loaded file of
// one 100 MB line) costs about a window's width.
#include <cstddef>
#include <functional>
#include <string>

namespace terminal {

// The start of a line that covers Width pixels when drawn, or the whole line
// when it is narrower. Take(n) gives the line's first n characters (all of a
// shorter line); Measure(text) is the width of a start of the line as drawn.
// The first try takes Guess characters, each further try twice as many,
// until the drawn text is at least Width wide or the line has ended; so a
// good guess costs one try, and a font with narrow characters a few more.
std::string VisibleLineStart(std::size_t Guess, int Width,
                             const std::function<std::string(std::size_t)>& Take,
                             const std::function<int(const std::string&)>& Measure);

}  // namespace terminal
