#pragma once
// A file's whole contents, read and written as bytes.
#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

// The bytes of the file; empty when it cannot be read.
inline std::string Slurp(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Creates (or empties) the file and writes data.
inline void Spit(const std::string& name, const std::string& data) {
    std::ofstream(name, std::ios::binary) << data;
}

}  // namespace test_support
