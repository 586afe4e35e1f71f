#pragma once
// Reading back an output file the program wrote as text in HEX.
#include <string>

namespace test_support {

// The bytes of an output file written as text with no time and the "<"
// mark: tokens of two hexadecimal digits between blanks, lines ended by CR.
// A token cut short at the end is left out.
inline std::string HexTextBytes(const std::string& Text) {
    std::string bytes, token;
    for (const char c : Text + ' ') {
        if (c != ' ' && c != '\r') {
            if (c != '<') token.push_back(c);
            continue;
        }
        if (token.size() == 2) bytes.push_back(static_cast<char>(std::stoi(token, nullptr, 16)));
        token.clear();
    }
    return bytes;
}

}  // namespace test_support
