#pragma once
// Reading the SVG text the converters write, for tests: elements of a
// kind, their attributes, the numbers in a piece of text.
#include <cctype>
#include <charconv>
#include <string>
#include <vector>

namespace test_support {

// The numbers in a piece of SVG text, in order.
inline std::vector<double> Numbers(const std::string& text) {
    std::vector<double> out;
    for (std::size_t i = 0; i < text.size();) {
        const bool sign = text[i] == '-' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]));
        if (!sign && !std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        double v = 0;  // whatever the process's locale
        const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v);
        out.push_back(v);
        i = ec == std::errc() ? static_cast<std::size_t>(end - text.data()) : i + 1;
    }
    return out;
}

// The elements of a kind (the text from "<tag" to the next ">").
inline std::vector<std::string> Elements(const std::string& svg, const std::string& tag) {
    std::vector<std::string> out;
    for (std::size_t at = svg.find("<" + tag + " "); at != std::string::npos; at = svg.find("<" + tag + " ", at + 1))
        out.push_back(svg.substr(at, svg.find('>', at) - at + 1));
    return out;
}

// The value of an attribute of an element.
inline std::string Attribute(const std::string& element, const std::string& name) {
    std::size_t at = element.find(name + "=\"");
    while (at != std::string::npos && (at == 0 || !std::isspace(static_cast<unsigned char>(element[at - 1]))))
        at = element.find(name + "=\"", at + 1);
    if (at == std::string::npos) return {};
    const std::size_t from = at + name.size() + 2;
    return element.substr(from, element.find('"', from) - from);
}

}  // namespace test_support
