#include "platform/vcl/string_list.h"

#include <algorithm>
#include <numeric>

#include "platform/rtl/bisect.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/vcl/streams.h"

namespace vcl {

namespace {
constexpr const char* kListIndexError = "List index out of bounds (%d)";
constexpr const char* kSortedListError = "Operation not allowed on sorted list";
constexpr const char* kDuplicateString = "String list does not allow duplicates";

bool NeedsQuotes(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == '"' || c == ',';
    });
}
}  // namespace

void TStrings::Error(const std::string& Msg, int Data) {
    throw rtl::EStringListError(rtl::Format(Msg, {Data}));
}

int TStrings::CompareStrings(const std::string& S1, const std::string& S2) const {
    return rtl::AnsiCompareText(S1, S2);
}

void TStrings::Put(int Index, const std::string& S) {
    const std::intptr_t object = GetObject(Index);
    Delete(Index);
    InsertObject(Index, S, object);
}

std::intptr_t TStrings::GetObject(int) const { return 0; }
void TStrings::PutObject(int, std::intptr_t) {}

int TStrings::Add(const std::string& S) {
    const int index = Count();
    Insert(index, S);
    return index;
}

int TStrings::AddObject(const std::string& S, std::intptr_t AObject) {
    const int index = Add(S);
    PutObject(index, AObject);
    return index;
}

void TStrings::InsertObject(int Index, const std::string& S, std::intptr_t AObject) {
    Insert(Index, S);
    PutObject(Index, AObject);
}

void TStrings::AddStrings(const TStrings& Strings) {
    BeginUpdate();
    for (int i = 0; i < Strings.Count(); ++i) AddObject(Strings.Get(i), Strings.GetObject(i));
    EndUpdate();
}

void TStrings::Assign(const TStrings& Source) {
    if (&Source == this) return;
    BeginUpdate();
    Clear();
    AddStrings(Source);
    EndUpdate();
}

void TStrings::Exchange(int Index1, int Index2) {
    const std::string s1 = Get(Index1), s2 = Get(Index2);
    const std::intptr_t o1 = GetObject(Index1), o2 = GetObject(Index2);
    BeginUpdate();
    Put(Index1, s2);
    PutObject(Index1, o2);
    Put(Index2, s1);
    PutObject(Index2, o1);
    EndUpdate();
}

int TStrings::IndexOf(const std::string& S) const {
    for (int i = 0; i < Count(); ++i)
        if (CompareStrings(Get(i), S) == 0) return i;
    return -1;
}

int TStrings::IndexOfName(const std::string& Name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string s = Get(i);
        const auto eq = s.find('=');
        if (eq != std::string::npos && CompareStrings(s.substr(0, eq), Name) == 0) return i;
    }
    return -1;
}

int TStrings::IndexOfObject(std::intptr_t AObject) const {
    for (int i = 0; i < Count(); ++i)
        if (GetObject(i) == AObject) return i;
    return -1;
}

std::string TStrings::Text() const {
    std::string out;
    for (int i = 0; i < Count(); ++i) out += Get(i) + "\r\n";
    return out;
}

void TStrings::SetText(const std::string& Value) {
    BeginUpdate();
    Clear();
    size_t i = 0;
    while (i < Value.size()) {
        const size_t start = i;
        while (i < Value.size() && Value[i] != '\r' && Value[i] != '\n') ++i;
        Add(Value.substr(start, i - start));
        if (i < Value.size() && Value[i] == '\r') ++i;
        if (i < Value.size() && Value[i] == '\n') ++i;
    }
    EndUpdate();
}

std::string TStrings::CommaText() const {
    if (Count() == 1 && Get(0).empty()) return "\"\"";
    std::string out;
    for (int i = 0; i < Count(); ++i) {
        if (i > 0) out += ',';
        const std::string s = Get(i);
        if (!NeedsQuotes(s)) {
            out += s;
            continue;
        }
        out += '"';
        for (char c : s) {
            out += c;
            if (c == '"') out += '"';
        }
        out += '"';
    }
    return out;
}

void TStrings::SetCommaText(const std::string& Value) {
    const size_t n = Value.size();
    // Blanks and control characters (NUL included) separate unquoted items.
    auto isBlank = [&](size_t i) { return static_cast<unsigned char>(Value[i]) <= ' '; };
    BeginUpdate();
    Clear();
    size_t i = 0;
    while (i < n && isBlank(i)) ++i;
    while (i < n) {
        std::string s;
        if (Value[i] == '"') {
            ++i;
            while (i < n) {
                if (Value[i] == '"') {
                    if (i + 1 < n && Value[i + 1] == '"') {
                        s += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                s += Value[i++];
            }
        } else {
            const size_t start = i;
            while (i < n && static_cast<unsigned char>(Value[i]) > ' ' && Value[i] != ',') ++i;
            s = Value.substr(start, i - start);
        }
        Add(s);
        while (i < n && isBlank(i)) ++i;
        if (i < n && Value[i] == ',') {
            ++i;
            if (i == n) Add("");
            while (i < n && isBlank(i)) ++i;
        }
    }
    EndUpdate();
}

std::string TStrings::Names(int Index) const {
    const std::string s = Get(Index);
    const auto eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStrings::ValueFromIndex(int Index) const {
    const std::string s = Get(Index);
    const auto eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

std::string TStrings::Values(const std::string& Name) const {
    const int i = IndexOfName(Name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValues(const std::string& Name, const std::string& Value) {
    const int i = IndexOfName(Name);
    if (!Value.empty()) {
        if (i < 0)
            Add(Name + "=" + Value);
        else
            Put(i, Name + "=" + Value);
    } else if (i >= 0) {
        Delete(i);
    }
}

void TStrings::LoadFromFile(const std::string& FileName) {
    TMemoryStream stream;
    stream.LoadFromFile(FileName);
    SetText(std::string(reinterpret_cast<const char*>(stream.Memory()),
                        static_cast<size_t>(stream.Size())));
}

void TStrings::SaveToFile(const std::string& FileName) const {
    const std::string text = Text();
    TMemoryStream stream;
    stream.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
    stream.SaveToFile(FileName);
}

void TStrings::BeginUpdate() {
    if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

void TStringList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count()) Error(kListIndexError, Index);
}

void TStringList::Changing() {
    if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
    if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::SetUpdateState(bool Updating) {
    if (Updating)
        Changing();
    else
        Changed();
}

int TStringList::CompareStrings(const std::string& S1, const std::string& S2) const {
    return caseSensitive_ ? rtl::AnsiCompareStr(S1, S2) : rtl::AnsiCompareText(S1, S2);
}

std::string TStringList::Get(int Index) const {
    CheckIndex(Index);
    return items_[static_cast<size_t>(Index)].S;
}

void TStringList::Put(int Index, const std::string& S) {
    if (sorted_) Error(kSortedListError, 0);
    CheckIndex(Index);
    Changing();
    items_[static_cast<size_t>(Index)].S = S;
    Changed();
}

std::intptr_t TStringList::GetObject(int Index) const {
    CheckIndex(Index);
    return items_[static_cast<size_t>(Index)].Object;
}

void TStringList::PutObject(int Index, std::intptr_t AObject) {
    CheckIndex(Index);
    Changing();
    items_[static_cast<size_t>(Index)].Object = AObject;
    Changed();
}

void TStringList::InsertItem(int Index, const std::string& S, std::intptr_t AObject) {
    Changing();
    items_.insert(items_.begin() + Index, TItem{S, AObject});
    Changed();
}

int TStringList::Add(const std::string& S) { return AddObject(S, 0); }

int TStringList::AddObject(const std::string& S, std::intptr_t AObject) {
    int index = Count();
    if (sorted_ && Find(S, index)) {
        if (Duplicates == TDuplicates::dupIgnore) return index;
        if (Duplicates == TDuplicates::dupError) Error(kDuplicateString, 0);
    }
    InsertItem(index, S, AObject);
    return index;
}

void TStringList::Insert(int Index, const std::string& S) {
    if (sorted_) Error(kSortedListError, 0);
    if (Index < 0 || Index > Count()) Error(kListIndexError, Index);
    InsertItem(Index, S, 0);
}

void TStringList::Delete(int Index) {
    CheckIndex(Index);
    Changing();
    items_.erase(items_.begin() + Index);
    Changed();
}

void TStringList::Clear() {
    if (items_.empty()) return;
    Changing();
    items_.clear();
    Changed();
}

bool TStringList::Find(const std::string& S, int& Index) const {
    return rtl::Bisect(
        Count(), [&](int i) { return CompareStrings(items_[static_cast<size_t>(i)].S, S); },
        Duplicates == TDuplicates::dupAccept, Index);
}

int TStringList::IndexOf(const std::string& S) const {
    if (!sorted_) return TStrings::IndexOf(S);
    int index;
    return Find(S, index) ? index : -1;
}

void TStringList::CustomSort(const TStringListSortCompare& Compare) {
    if (items_.size() < 2) return;
    Changing();
    // Sort a permutation so that the compare function sees the list as it was.
    std::vector<int> order(items_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return Compare(this, a, b) < 0; });
    std::vector<TItem> sorted;
    sorted.reserve(items_.size());
    for (int i : order) sorted.push_back(std::move(items_[static_cast<size_t>(i)]));
    items_ = std::move(sorted);
    Changed();
}

void TStringList::Sort() {
    CustomSort([](TStringList* list, int a, int b) {
        return list->CompareStrings(list->items_[static_cast<size_t>(a)].S,
                                    list->items_[static_cast<size_t>(b)].S);
    });
}

void TStringList::SetSorted(bool Value) {
    if (Value == sorted_) return;
    if (Value) Sort();
    sorted_ = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
    if (Value == caseSensitive_) return;
    caseSensitive_ = Value;
    if (sorted_) Sort();
}

}  // namespace vcl
