#pragma once
// TLEList: a growable array of fixed-size records in one contiguous block.
// Callers get record addresses and work on the records in place. An optional
// finalizer releases what a record owns when records are dropped; with one
// set, new records are zero-filled so that the finalizer always sees valid
// contents. Find is a binary search with the caller's compare function, so a
// caller keeps the list sorted by inserting where Find points.
//
// The records are raw bytes, moved with memmove: only trivially copyable
// records belong here. TLEListOf<T> below keeps records that own resources
// (strings, ...) with the same counts, capacities, search and errors.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rtl {

class TLEList {
public:
    using TItemFinalizer = void (*)(void* Item);
    // Negative when the record sorts before the key, 0 when equal, positive after.
    using TCompare = std::function<int(const void* Item, std::intptr_t Key)>;

    static constexpr int MaxListSize = 134217728;

    // Raises EListError when ItemSize is below 1.
    TLEList(int ItemSize, TItemFinalizer ItemFinalizer = nullptr);
    virtual ~TLEList();
    TLEList(const TLEList&) = delete;
    TLEList& operator=(const TLEList&) = delete;

    void* Add();
    void* Insert(int Index);
    void* Get(int Index) const;
    void SetCount(int NewCount);
    void SetCapacity(int NewCapacity);
    virtual void Clear();
    bool Find(std::intptr_t Key, const TCompare& Compare, int& Index) const;

    int Count() const { return count_; }
    int Capacity() const { return capacity_; }
    int ItemSize() const { return itemSize_; }
    TItemFinalizer ItemFinalizer() const { return finalizer_; }

protected:
    virtual void Grow(int ACapacity);
    // Raises EListError with Msg formatted with Data.
    [[noreturn]] static void Error(const std::string& Msg, int Data);

private:
    std::byte* Item(int Index) const {
        return data_.get() + static_cast<std::size_t>(Index) * static_cast<std::size_t>(itemSize_);
    }
    void ZeroFill(int From, int To);

    std::unique_ptr<std::byte[]> data_;
    int count_ = 0;
    int capacity_ = 0;
    int itemSize_;
    TItemFinalizer finalizer_;
};

// The list messages (Windows-1251), with "%d" for the offending value.
std::string ListIndexErrorText();
std::string ListCapacityErrorText();
std::string ListCountErrorText();

// A TLEList of records that own resources. Each record of the underlying list
// holds the address of one T that the list owns; the finalizer frees it.
template <class T>
class TLEListOf {
public:
    TLEListOf() : list_(sizeof(T*), &Finalize) {}

    T& Add() {
        auto item = std::make_unique<T>();
        void* slot = list_.Add();  // may raise; item still owns the record then
        Store(slot, item.release());
        return Get(list_.Count() - 1);
    }
    T& Insert(int Index) {
        auto item = std::make_unique<T>();
        void* slot = list_.Insert(Index);
        Store(slot, item.release());
        return Get(Index);
    }
    T& Get(int Index) const { return *Load(list_.Get(Index)); }
    T& operator[](int Index) const { return Get(Index); }
    // New records are default-constructed T.
    void SetCount(int NewCount) {
        const int old = list_.Count();
        // The new records exist before the list grows, so a failure on the
        // way leaves no empty record behind.
        std::vector<std::unique_ptr<T>> fresh;
        if (NewCount > old && NewCount < TLEList::MaxListSize)
            for (int i = old; i < NewCount; ++i) fresh.push_back(std::make_unique<T>());
        list_.SetCount(NewCount);
        for (int i = old; i < NewCount; ++i) Store(list_.Get(i), fresh[static_cast<size_t>(i - old)].release());
    }
    void SetCapacity(int NewCapacity) { list_.SetCapacity(NewCapacity); }
    void Clear() { list_.Clear(); }
    // Compare(record, key): negative when the record sorts before the key.
    template <class Key, class F>
    bool Find(const Key& key, F&& Compare, int& Index) const {
        return list_.Find(
            reinterpret_cast<std::intptr_t>(&key),
            [&](const void* item, std::intptr_t k) {
                return Compare(static_cast<const T&>(*Load(item)), *reinterpret_cast<const Key*>(k));
            },
            Index);
    }
    int Count() const { return list_.Count(); }
    int Capacity() const { return list_.Capacity(); }

private:
    static T* Load(const void* slot) {
        T* p;
        std::memcpy(&p, slot, sizeof p);
        return p;
    }
    static void Store(void* slot, T* p) { std::memcpy(slot, &p, sizeof p); }
    static void Finalize(void* slot) {
        std::unique_ptr<T> owned(Load(slot));
        Store(slot, nullptr);
    }

    TLEList list_;
};

}  // namespace rtl
