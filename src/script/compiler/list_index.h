#pragma once
// Positions in one of the compiler's append-only lists, grouped by a key: the
// stored hash of an entry's upper-case name, a base type code, an element
// type. Lookups by name then cost the same however long a script grows,
// where a scan of the list would cost more with every declaration.
//
// The index catches up lazily on the entries appended since it last looked;
// a list that shrank, or whose entries may have changed (the host renames
// what it registers), is indexed afresh after Reset.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace script::compiler {

template <typename Key>
class TPSListIndex {
public:
    using Positions = std::vector<std::uint32_t>;  // ascending

    void Reset() {
        if (indexed_ == 0) return;
        map_ = {};
        indexed_ = 0;
    }

    // Indexes the entries from the first not yet indexed up to count; key_of
    // (position, add) calls add(key) for each key the entry is found by.
    template <typename KeyOf>
    void CatchUp(std::size_t count, KeyOf key_of) {
        if (count < indexed_) Reset();
        for (; indexed_ < count; ++indexed_) {
            const auto position = static_cast<std::uint32_t>(indexed_);
            key_of(indexed_, [&](const Key& key) { map_[key].push_back(position); });
        }
    }

    // The positions of the entries with the key, in list order; empty when
    // there are none.
    const Positions& Find(const Key& key) const {
        static const Positions kNone;
        const auto it = map_.find(key);
        return it == map_.end() ? kNone : it->second;
    }

private:
    std::unordered_map<Key, Positions> map_;
    std::size_t indexed_ = 0;
};

// The positions a lookup examines: those an index gives for a key, or every
// position of the list (while the index cannot be trusted). Either way the
// lookup tests each entry itself, so the index only narrows the search.
class TPSCandidates {
public:
    explicit TPSCandidates(std::size_t every) : every_(every) {}
    explicit TPSCandidates(const std::vector<std::uint32_t>& some) : some_(&some) {}

    std::size_t size() const { return some_ != nullptr ? some_->size() : every_; }
    std::uint32_t operator[](std::size_t i) const {
        return some_ != nullptr ? (*some_)[i] : static_cast<std::uint32_t>(i);
    }

private:
    const std::vector<std::uint32_t>* some_ = nullptr;
    std::size_t every_ = 0;
};

}  // namespace script::compiler
