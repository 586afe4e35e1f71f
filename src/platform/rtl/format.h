#pragma once
// Format with one fixed set of rules, which plug-ins rely on:
//   "%" ["index:"] ["-"] [width] ["." precision] type
// types d u e f g n m p s x (either case), "%%" for a percent sign, "*" for an
// index, width or precision taken from the next argument. Hexadecimal digits
// are upper case; ".3d" and ".16x" pad with zeros; a precision truncates "%s".
// An argument that does not suit its type, or a missing argument, raises
// EConvertError "Format '<format>' invalid or incompatible with argument".
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace rtl {

// One argument of Format. It refers to string data that the caller keeps
// alive for the call (temporaries in the argument list are fine).
struct TVarRec {
    enum class Kind { Integer, Int64, UInt64, Extended, String, Char, Pointer, Boolean };

    TVarRec(int v) : kind(Kind::Integer), i(v) {}
    TVarRec(short v) : kind(Kind::Integer), i(v) {}
    TVarRec(signed char v) : kind(Kind::Integer), i(v) {}
    TVarRec(unsigned char v) : kind(Kind::Integer), i(v) {}
    TVarRec(unsigned short v) : kind(Kind::Integer), i(v) {}
    TVarRec(unsigned v) : kind(Kind::Int64), i(v) {}
    TVarRec(long v) : kind(Kind::Int64), i(v) {}
    TVarRec(long long v) : kind(Kind::Int64), i(v) {}
    TVarRec(unsigned long v) : kind(Kind::UInt64), u(v) {}
    TVarRec(unsigned long long v) : kind(Kind::UInt64), u(v) {}
    TVarRec(float v) : kind(Kind::Extended), f(v) {}
    TVarRec(double v) : kind(Kind::Extended), f(v) {}
    TVarRec(long double v) : kind(Kind::Extended), f(v) {}
    TVarRec(char v) : kind(Kind::Char), c(v) {}
    TVarRec(bool v) : kind(Kind::Boolean), b(v) {}
    TVarRec(const std::string& v) : kind(Kind::String), s(v) {}
    TVarRec(std::string_view v) : kind(Kind::String), s(v) {}
    TVarRec(const char* v) : kind(Kind::String), s(v ? std::string_view(v) : std::string_view()) {}
    TVarRec(const void* v) : kind(Kind::Pointer), p(v) {}

    Kind kind;
    std::int64_t i = 0;
    std::uint64_t u = 0;
    long double f = 0;
    std::string_view s;
    char c = 0;
    const void* p = nullptr;
    bool b = false;
};

std::string Format(const std::string& format, std::initializer_list<TVarRec> args);
std::string Format(const std::string& format, std::span<const TVarRec> args);

}  // namespace rtl
