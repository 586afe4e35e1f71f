#pragma once
// Opening gaps in a sequence for a batch of new items in one pass.
#include <algorithm>
#include <cstddef>
#include <span>
#include <utility>

namespace chart::engine {

// Items holds OldCount items followed by room for Places.size() more (it is
// already that long). Afterwards new item k stands at Places[k] (the final
// indexes, ascending) and the old items fill the other places in their
// order. Only the part from the first place on moves, once, from the back:
// the cost is that part plus the new items, however many land in it.
template <class Items, class NewItem>
void SpreadAtPlaces(Items& items, std::size_t OldCount, std::span<const int> Places, NewItem&& newItem) {
    std::size_t dst = OldCount + Places.size();
    std::size_t src = OldCount;
    for (std::size_t k = Places.size(); k-- > 0;) {
        const auto at = static_cast<std::size_t>(Places[k]);
        while (dst > at + 1) items[--dst] = std::move(items[--src]);
        items[--dst] = newItem(k);
    }
}

// Room in a vector for Needed items, grown by half at least, so that batch
// after batch costs no copy of the whole each time.
template <class Vector>
void ReserveGrowing(Vector& v, std::size_t Needed) {
    if (Needed > v.capacity()) v.reserve(std::max(Needed, v.capacity() + v.capacity() / 2));
}

}  // namespace chart::engine
