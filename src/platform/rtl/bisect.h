#pragma once
// The binary search of the runtime's sorted lists. Compare(i) is negative
// when item i sorts before the key, 0 when equal, positive after. The result
// tells whether an equal item was met; Index is then that item (the first
// one met, or with firstOfEqual the lowest of a run of equal items) and
// otherwise the position at which the key is to be inserted.
namespace rtl {

template <class Compare>
bool Bisect(int count, Compare&& compare, bool firstOfEqual, int& Index) {
    int lo = 0, hi = count - 1;
    bool found = false;
    while (lo <= hi) {
        const int i = lo + (hi - lo) / 2;
        const int c = compare(i);
        if (c < 0) {
            lo = i + 1;
        } else {
            hi = i - 1;
            if (c == 0) {
                found = true;
                if (!firstOfEqual) lo = i;  // ends the search at this item
            }
        }
    }
    Index = lo;
    return found;
}

}  // namespace rtl
