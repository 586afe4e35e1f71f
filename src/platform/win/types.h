#pragma once
// The basic Win32 type names the platform calls are declared with.
#include <cstdint>

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using HANDLE = std::uintptr_t;

constexpr HANDLE INVALID_HANDLE_VALUE = ~HANDLE{0};
constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

}  // namespace win
