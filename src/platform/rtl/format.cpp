#include "platform/rtl/format.h"

#include <algorithm>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/numbers.h"

namespace rtl {

namespace {

class TFormatter {
public:
    TFormatter(const std::string& format, std::span<const TVarRec> args)
        : format_(format), args_(args) {}

    std::string Run() {
        std::string out;
        size_t i = 0;
        while (i < format_.size()) {
            const auto pct = format_.find('%', i);
            if (pct == std::string::npos) {
                out.append(format_, i, std::string::npos);
                break;
            }
            out.append(format_, i, pct - i);
            i = pct + 1;
            if (i >= format_.size()) Fail();
            if (format_[i] == '%') {
                out += '%';
                ++i;
                continue;
            }
            i = Spec(i, out);
        }
        return out;
    }

private:
    [[noreturn]] void Fail() const {
        throw EConvertError("Format '" + format_ + "' invalid or incompatible with argument");
    }

    const TVarRec& NextArg() {
        if (next_ >= args_.size()) Fail();
        return args_[next_++];
    }

    // A number, or "*" for an integer argument; -1 when neither is there.
    int Number(size_t& i) {
        if (i < format_.size() && format_[i] == '*') {
            ++i;
            const TVarRec& a = NextArg();
            if (a.kind != TVarRec::Kind::Integer && a.kind != TVarRec::Kind::Int64) Fail();
            return static_cast<int>(std::clamp<std::int64_t>(a.i, 0, 1 << 20));
        }
        if (i >= format_.size() || format_[i] < '0' || format_[i] > '9') return -1;
        std::int64_t n = 0;
        while (i < format_.size() && format_[i] >= '0' && format_[i] <= '9') {
            n = std::min<std::int64_t>(n * 10 + (format_[i] - '0'), 1 << 20);
            ++i;
        }
        return static_cast<int>(n);
    }

    size_t Spec(size_t i, std::string& out) {
        bool left = false;
        int width = -1, precision = -1;
        if (i < format_.size() && format_[i] == '-') {
            left = true;
            ++i;
        }
        int n = Number(i);
        if (!left && i < format_.size() && format_[i] == ':') {
            if (n < 0) Fail();
            next_ = static_cast<size_t>(n);
            ++i;
            if (i < format_.size() && format_[i] == '-') {
                left = true;
                ++i;
            }
            n = Number(i);
        }
        width = n;
        if (i < format_.size() && format_[i] == '.') {
            ++i;
            precision = Number(i);
            if (precision < 0) precision = 0;
        }
        if (i >= format_.size()) Fail();
        const char type = format_[i++];
        std::string text = Convert(type, precision, NextArg());
        if (width > static_cast<int>(text.size())) {
            const size_t pad = static_cast<size_t>(width) - text.size();
            if (left)
                text.append(pad, ' ');
            else
                text.insert(0, pad, ' ');
        }
        out += text;
        return i;
    }

    static std::string ZeroPad(std::string digits, int precision) {
        if (precision > static_cast<int>(digits.size()))
            digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
        return digits;
    }

    std::string Convert(char type, int precision, const TVarRec& a) {
        using K = TVarRec::Kind;
        const bool integral = a.kind == K::Integer || a.kind == K::Int64 || a.kind == K::UInt64 ||
                              a.kind == K::Boolean;
        switch (type) {
            case 'd': case 'D': {
                if (!integral) Fail();
                if (a.kind == K::UInt64) return ZeroPad(std::to_string(a.u), precision);
                const std::int64_t v = a.kind == K::Boolean ? a.b : a.i;
                const std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v)
                                                : static_cast<std::uint64_t>(v);
                return (v < 0 ? "-" : "") + ZeroPad(std::to_string(mag), precision);
            }
            case 'u': case 'U':
                if (!integral) Fail();
                return ZeroPad(std::to_string(Unsigned(a)), precision);
            case 'x': case 'X':
                if (!integral) Fail();
                return IntToHex(static_cast<unsigned long long>(Unsigned(a)),
                                std::max(precision, 0));
            case 'p': case 'P':
                if (a.kind != K::Pointer) Fail();
                return IntToHex(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a.p)),
                                static_cast<int>(sizeof(void*) * 2));
            case 's': case 'S': {
                std::string text;
                if (a.kind == K::String)
                    text = std::string(a.s);
                else if (a.kind == K::Char)
                    text = std::string(1, a.c);
                else if (a.kind == K::Boolean)
                    text = a.b ? "True" : "False";
                else
                    Fail();
                if (precision >= 0 && precision < static_cast<int>(text.size()))
                    text.resize(static_cast<size_t>(precision));
                return text;
            }
            case 'e': case 'E':
                return FloatToStrF(Float(a), TFloatFormat::ffExponent, Precision(precision, 15), 3);
            case 'g': case 'G':
                return FloatToStrF(Float(a), TFloatFormat::ffGeneral, Precision(precision, 15), 0);
            case 'f': case 'F':
                return FloatToStrF(Float(a), TFloatFormat::ffFixed, 18, Precision(precision, 2));
            case 'n': case 'N':
                return FloatToStrF(Float(a), TFloatFormat::ffNumber, 18, Precision(precision, 2));
            case 'm': case 'M':
                return FloatToStrF(Float(a), TFloatFormat::ffCurrency, 18,
                                   Precision(precision, CurrencyDecimals));
            default:
                Fail();
        }
    }

    // The value as an unsigned number of its own width: a 32-bit integer is
    // taken modulo 2^32, a 64-bit one modulo 2^64.
    static std::uint64_t Unsigned(const TVarRec& a) {
        switch (a.kind) {
            case TVarRec::Kind::Integer: return static_cast<std::uint32_t>(a.i);
            case TVarRec::Kind::UInt64: return a.u;
            case TVarRec::Kind::Boolean: return a.b ? 1 : 0;
            default: return static_cast<std::uint64_t>(a.i);
        }
    }

    long double Float(const TVarRec& a) const {
        if (a.kind != TVarRec::Kind::Extended) Fail();
        return a.f;
    }

    static int Precision(int given, int fallback) {
        return given < 0 ? fallback : std::min(given, 18);
    }

    const std::string& format_;
    std::span<const TVarRec> args_;
    size_t next_ = 0;
};

}  // namespace

std::string Format(const std::string& format, std::span<const TVarRec> args) {
    return TFormatter(format, args).Run();
}

std::string Format(const std::string& format, std::initializer_list<TVarRec> args) {
    return Format(format, std::span<const TVarRec>(args.begin(), args.size()));
}

}  // namespace rtl
