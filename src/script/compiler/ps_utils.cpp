#include "script/compiler/ps_utils.h"

#include <charconv>
#include <cstring>
#include <optional>

namespace script {

std::uint32_t MakeHash(std::string_view s) {
    std::uint32_t hash = 0;
    for (unsigned char b : s) hash = ((hash << 7) | (hash >> 25)) + b;
    return hash;
}

std::string FastUpperCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return out;
}

std::string GetRemoveFirstWord(std::string& s) {
    const std::size_t blank = s.find(' ');
    std::string word;
    if (blank == std::string::npos) {
        word.swap(s);
        return word;
    }
    word = s.substr(0, blank);
    s.erase(0, blank + 1);
    return word;
}

std::string GetRemoveLastWord(std::string& s) {
    const std::size_t blank = s.rfind(' ');
    std::string word;
    if (blank == std::string::npos) {
        word.swap(s);
        return word;
    }
    word = s.substr(blank + 1);
    s.erase(blank);
    return word;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The runtime's integer parsing: leading blanks, an optional sign, decimal
// digits or "$"/"0x" hexadecimal, and nothing after the last digit. Decimal
// text must fit the signed range; hexadecimal may use all 32 bits.
std::optional<std::int32_t> ParseInt(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < s.size() && s[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (; i < s.size(); ++i) {
        const int d = hex ? HexDigit(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
        if (d < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(d);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (!hex) {
        if (value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
    }
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

// The power of ten of the first significant digit of mantissa * 10^exponent
// (0 for 1.0 .. 9.9); only the sign matters to the caller.
std::int64_t DecimalMagnitude(std::string_view mantissa, std::int64_t exponent) {
    const std::size_t point = mantissa.find('.');
    const std::size_t int_len = point == std::string_view::npos ? mantissa.size() : point;
    for (std::size_t k = 0; k < mantissa.size(); ++k) {
        if (mantissa[k] < '1' || mantissa[k] > '9') continue;
        const std::int64_t place = k < int_len ? static_cast<std::int64_t>(int_len - k) - 1
                                               : -static_cast<std::int64_t>(k - int_len);
        return place + exponent;
    }
    return -1;  // all zeros
}

}  // namespace

std::int32_t PSStrToInt(std::string_view s) { return PSStrToIntDef(s, -1); }

std::int32_t PSStrToIntDef(std::string_view s, std::int32_t def) {
    return ParseInt(s).value_or(def);
}

long double PSStrToFloat(std::string_view s) {
    // Validate the shape ourselves, then hand a canonical text to from_chars,
    // which never looks at the process locale.
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    std::string_view t = s.substr(b, e - b);
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    const std::size_t body = i;
    std::size_t digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) throw EPSError("Invalid float");
    const std::size_t mantissa_end = i;
    bool exp_negative = false;
    std::int64_t exponent = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) exp_negative = t[i++] == '-';
        std::size_t exp_digits = 0;
        for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++exp_digits) {
            if (exponent < 1000000) exponent = exponent * 10 + (t[i] - '0');
        }
        if (exp_digits == 0) throw EPSError("Invalid float");
    }
    if (i != t.size()) throw EPSError("Invalid float");
    if (exp_negative) exponent = -exponent;

    std::string canon(t.substr(body));
    long double value = 0;
    const auto r = std::from_chars(canon.data(), canon.data() + canon.size(), value);
    if (r.ec != std::errc() || r.ptr != canon.data() + canon.size()) {
        // Too small to represent is zero; too large is an error.
        if (r.ec == std::errc::result_out_of_range &&
            DecimalMagnitude(t.substr(body, mantissa_end - body), exponent) < 0) {
            return negative ? -0.0L : 0.0L;
        }
        throw EPSError("Invalid float");
    }
    return negative ? -value : value;
}

std::string PSIntToStr(std::int32_t v) {
    char buf[16];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string PSFloatToStr(long double v) {
    char buf[5000 + 64];  // the widest long double in fixed notation fits
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 12);
    if (r.ec != std::errc()) return {};
    return std::string(buf, r.ptr);
}

// ---- TPSList ----

TPSList::TPSList()
    : items_(std::make_unique<void*[]>(kInitialCapacity)), capacity_(kInitialCapacity) {}

TPSList::~TPSList() = default;

void TPSList::CountChange() {
    ++changes_;
    if (changes_ > kRecreateAfter) Recreate();
}

std::uint32_t TPSList::Add(void* item) {
    if (count_ >= capacity_) {
        const std::uint32_t grown = capacity_ + kGrowBy;
        auto storage = std::make_unique<void*[]>(grown);
        if (count_ > 0) std::memcpy(storage.get(), items_.get(), count_ * sizeof(void*));
        items_ = std::move(storage);
        capacity_ = grown;
    }
    const std::uint32_t index = count_;
    items_[count_++] = item;
    CountChange();
    return index;
}

void TPSList::DeleteLast() {
    if (count_ == 0) return;
    --count_;
    CountChange();
}

void TPSList::Delete(std::uint32_t index) {
    if (count_ == 0 || index >= count_) return;
    std::memmove(&items_[index], &items_[index + 1], (count_ - index - 1) * sizeof(void*));
    --count_;
    CountChange();
}

void TPSList::Remove(void* item) {
    for (std::uint32_t i = 0; i < count_; ++i) {
        if (items_[i] == item) {
            Delete(i);
            return;
        }
    }
}

std::int32_t TPSList::IndexOf(void* item) const {
    for (std::uint32_t i = count_; i > 0; --i) {
        if (items_[i - 1] == item) return static_cast<std::int32_t>(i - 1);
    }
    return -1;
}

void* TPSList::GetItem(std::uint32_t index) const {
    return index < count_ ? items_[index] : nullptr;
}

void TPSList::SetItem(std::uint32_t index, void* item) {
    if (index < count_) items_[index] = item;
}

void TPSList::Clear() {
    count_ = 0;
    Recreate();
}

void TPSList::Recreate() {
    changes_ = 0;
    const std::uint32_t q = count_ / 32;
    std::uint32_t capacity = q * 32 >= count_ ? q * 32 : (q + 1) * 32;
    if (capacity < kMinRecreatedCapacity) capacity = kMinRecreatedCapacity;
    auto storage = std::make_unique<void*[]>(capacity);
    if (count_ > 0) std::memcpy(storage.get(), items_.get(), count_ * sizeof(void*));
    items_ = std::move(storage);
    capacity_ = capacity;
}

// ---- TPSStringList ----

std::uint32_t TPSStringList::Add(std::string text) {
    items_.push_back(std::move(text));
    return static_cast<std::uint32_t>(items_.size() - 1);
}

std::string TPSStringList::GetItem(std::uint32_t index) const {
    return index < items_.size() ? items_[index] : std::string();
}

void TPSStringList::SetItem(std::uint32_t index, std::string text) {
    if (index < items_.size()) items_[index] = std::move(text);
}

void TPSStringList::Delete(std::uint32_t index) {
    if (index < items_.size()) items_.erase(items_.begin() + index);
}

}  // namespace script
