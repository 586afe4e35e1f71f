#pragma once
// String lists of the class library. TStrings holds the behaviour every list
// of strings shares (text with CR LF lines, comma text, name=value pairs,
// search, files); TStringList keeps the strings with an object value each
// and adds sorting, duplicates handling and change events.
// Comparisons follow the Windows-1251 alphabet, case-insensitive unless
// CaseSensitive is set.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vcl {

class TStrings {
public:
    virtual ~TStrings() = default;

    virtual int Count() const = 0;
    virtual std::string Get(int Index) const = 0;
    virtual void Put(int Index, const std::string& S);
    virtual std::intptr_t GetObject(int Index) const;
    virtual void PutObject(int Index, std::intptr_t AObject);
    virtual void Insert(int Index, const std::string& S) = 0;
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;

    virtual int Add(const std::string& S);
    virtual int AddObject(const std::string& S, std::intptr_t AObject);
    void InsertObject(int Index, const std::string& S, std::intptr_t AObject);
    void AddStrings(const TStrings& Strings);
    void Assign(const TStrings& Source);
    void Exchange(int Index1, int Index2);

    std::string Strings(int Index) const { return Get(Index); }
    void SetStrings(int Index, const std::string& S) { Put(Index, S); }
    std::intptr_t Objects(int Index) const { return GetObject(Index); }
    void SetObjects(int Index, std::intptr_t AObject) { PutObject(Index, AObject); }

    virtual int IndexOf(const std::string& S) const;
    int IndexOfName(const std::string& Name) const;
    int IndexOfObject(std::intptr_t AObject) const;

    // Every string followed by CR LF.
    std::string Text() const;
    // Lines end at CR LF, CR or LF; a last line without an ending counts.
    void SetText(const std::string& Value);
    // Strings joined by ","; a string with blanks, control characters, '"' or
    // ',' is enclosed in '"' with inner quotes doubled.
    std::string CommaText() const;
    // Splits at "," and at blanks outside '"' quotes.
    void SetCommaText(const std::string& Value);

    // name=value pairs: the text before the first '=' (empty without one).
    std::string Names(int Index) const;
    std::string ValueFromIndex(int Index) const;
    std::string Values(const std::string& Name) const;
    // An empty Value deletes the pair.
    void SetValues(const std::string& Name, const std::string& Value);

    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName) const;

    void BeginUpdate();
    void EndUpdate();

protected:
    // <0, 0, >0; case-insensitive here, TStringList honours CaseSensitive.
    virtual int CompareStrings(const std::string& S1, const std::string& S2) const;
    virtual void SetUpdateState(bool /*Updating*/) {}
    int UpdateCount() const { return updateCount_; }
    [[noreturn]] static void Error(const std::string& Msg, int Data);

private:
    int updateCount_ = 0;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
public:
    using TStringListEvent = std::function<void(TStringList* Sender)>;
    using TStringListSortCompare = std::function<int(TStringList* List, int Index1, int Index2)>;

    int Count() const override { return static_cast<int>(items_.size()); }
    std::string Get(int Index) const override;
    void Put(int Index, const std::string& S) override;
    std::intptr_t GetObject(int Index) const override;
    void PutObject(int Index, std::intptr_t AObject) override;
    int Add(const std::string& S) override;
    // A string that a sorted list ignores as a duplicate keeps its old object.
    int AddObject(const std::string& S, std::intptr_t AObject) override;
    void Insert(int Index, const std::string& S) override;
    void Delete(int Index) override;
    void Clear() override;
    int IndexOf(const std::string& S) const override;

    // Binary search of a sorted list: true when found; Index is the match
    // (the first of equal ones with dupAccept) or the insertion point.
    bool Find(const std::string& S, int& Index) const;
    void Sort();
    void CustomSort(const TStringListSortCompare& Compare);

    bool Sorted() const { return sorted_; }
    void SetSorted(bool Value);
    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool Value);
    TDuplicates Duplicates = TDuplicates::dupIgnore;

    TStringListEvent OnChange;
    TStringListEvent OnChanging;

protected:
    int CompareStrings(const std::string& S1, const std::string& S2) const override;
    void SetUpdateState(bool Updating) override;

private:
    struct TItem {
        std::string S;
        std::intptr_t Object = 0;
    };
    void InsertItem(int Index, const std::string& S, std::intptr_t AObject);
    void CheckIndex(int Index) const;
    void Changing();
    void Changed();

    std::vector<TItem> items_;
    bool sorted_ = false;
    bool caseSensitive_ = false;
};

}  // namespace vcl
