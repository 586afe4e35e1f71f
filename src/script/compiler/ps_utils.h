#pragma once
// Routines shared by the script compiler and the script runtime: the name
// hash behind every lookup, ASCII upper-casing, word splitting, number/text
// conversions with fixed, locale-independent formats, and the two small
// lists both sides build on.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace script {

// The general exception of the script engine: raised for misuse by the host,
// never for an error in a script.
class EPSError : public std::exception {
public:
    explicit EPSError(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// hash := rotl(hash, 7) + byte for every byte; callers hash upper-cased names.
std::uint32_t MakeHash(std::string_view s);

// Upper-cases 'a'..'z' only; bytes 0x80..0xFF stay as they are.
std::string FastUpperCase(std::string_view s);

// Splits at the first blank: returns the text before it and leaves the text
// after it in s. Without a blank, returns all of s and empties it.
std::string GetRemoveFirstWord(std::string& s);

// Splits at the last blank: returns the text after it and cuts s at the
// blank. Without a blank, returns all of s and empties it.
std::string GetRemoveLastWord(std::string& s);

// Whole-text integer parsing (leading blanks, sign, "$" or "0x" hexadecimal).
// PSStrToInt answers -1 for invalid text; PSStrToIntDef answers def.
std::int32_t PSStrToInt(std::string_view s);
std::int32_t PSStrToIntDef(std::string_view s, std::int32_t def);

// Whole-text float parsing with "." as the only decimal separator; raises
// EPSError("Invalid float") when the text is not a number or out of range.
long double PSStrToFloat(std::string_view s);

std::string PSIntToStr(std::int32_t v);

// Fixed-point text with exactly 12 decimals: 1.5 -> "1.500000000000".
std::string PSFloatToStr(long double v);

// A growable list of untyped pointers that never owns its items. Capacity
// grows by 32 and the storage is rebuilt after every 513 changes, so that a
// list that was large and emptied gives its memory back in amortised steps.
class TPSList {
public:
    static constexpr std::uint32_t kInitialCapacity = 16;
    static constexpr std::uint32_t kGrowBy = 32;
    static constexpr std::uint32_t kRecreateAfter = 512;
    static constexpr std::uint32_t kMinRecreatedCapacity = 64;

    TPSList();
    virtual ~TPSList();
    TPSList(const TPSList&) = delete;
    TPSList& operator=(const TPSList&) = delete;

    std::uint32_t Count() const { return count_; }
    std::uint32_t Capacity() const { return capacity_; }
    std::uint32_t ChangeCount() const { return changes_; }

    // Returns the index of the new item.
    std::uint32_t Add(void* item);
    void DeleteLast();
    // An index >= Count() does nothing.
    void Delete(std::uint32_t index);
    // Removes the first (lowest-index) entry equal to item.
    void Remove(void* item);
    // Searches from the last entry; -1 when absent.
    std::int32_t IndexOf(void* item) const;
    // nullptr when index >= Count(); negative indexes wrap to large ones.
    void* GetItem(std::uint32_t index) const;
    void SetItem(std::uint32_t index, void* item);
    virtual void Clear();
    void Recreate();

    void* operator[](std::uint32_t index) const { return GetItem(index); }

protected:
    void CountChange();

    std::unique_ptr<void*[]> items_;
    std::uint32_t capacity_ = 0;
    std::uint32_t count_ = 0;
    std::uint32_t changes_ = 0;
};

// A list of 8-bit strings that owns its strings.
class TPSStringList {
public:
    std::uint32_t Count() const { return static_cast<std::uint32_t>(items_.size()); }
    std::uint32_t Add(std::string text);
    // Empty text when the index is out of range.
    std::string GetItem(std::uint32_t index) const;
    // Ignored when the index is out of range.
    void SetItem(std::uint32_t index, std::string text);
    void Delete(std::uint32_t index);
    void Clear() { items_.clear(); }

private:
    std::vector<std::string> items_;
};

}  // namespace script
