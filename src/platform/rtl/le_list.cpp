#include "platform/rtl/le_list.h"

#include <cstring>

#include "platform/rtl/bisect.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"

namespace rtl {

std::string ListIndexErrorText() { return Utf8ToAnsi("Индекс списка вышел за границы (%d)"); }
std::string ListCapacityErrorText() {
    return Utf8ToAnsi("Размер списка вышел за границы (%d)");
}
std::string ListCountErrorText() { return Utf8ToAnsi("Счетчик списка вышел за границы (%d)"); }

TLEList::TLEList(int ItemSize, TItemFinalizer ItemFinalizer)
    : itemSize_(ItemSize), finalizer_(ItemFinalizer) {
    if (ItemSize < 1) throw EListError(Format("Invalid item size (%d)", {ItemSize}));
}

TLEList::~TLEList() { TLEList::Clear(); }

void TLEList::Error(const std::string& Msg, int Data) {
    throw EListError(Format(Msg, {Data}));
}

void TLEList::Grow(int ACapacity) {
    int delta = 4;
    if (ACapacity > 64)
        delta = ACapacity / 4;
    else if (ACapacity > 8)
        delta = 16;
    SetCapacity(ACapacity + delta);
}

void TLEList::ZeroFill(int From, int To) {
    if (To > From)
        std::memset(Item(From), 0, static_cast<std::size_t>(To - From) * static_cast<std::size_t>(itemSize_));
}

void* TLEList::Add() {
    if (count_ == capacity_) Grow(capacity_);
    if (finalizer_) ZeroFill(count_, count_ + 1);
    return Item(count_++);
}

void* TLEList::Insert(int Index) {
    if (Index < 0 || Index > count_) Error(ListIndexErrorText(), Index);
    if (count_ == capacity_) Grow(capacity_);
    if (Index < count_)
        std::memmove(Item(Index + 1), Item(Index),
                     static_cast<std::size_t>(count_ - Index) * static_cast<std::size_t>(itemSize_));
    if (finalizer_) ZeroFill(Index, Index + 1);
    ++count_;
    return Item(Index);
}

void* TLEList::Get(int Index) const {
    if (Index < 0 || Index >= count_) Error(ListIndexErrorText(), Index);
    return Item(Index);
}

void TLEList::SetCapacity(int NewCapacity) {
    if (NewCapacity < count_ || NewCapacity >= MaxListSize) Error(ListCapacityErrorText(), NewCapacity);
    if (NewCapacity == capacity_) return;
    std::unique_ptr<std::byte[]> block;
    if (NewCapacity > 0) {
        // The new block is ready before the old one goes, so a failed
        // allocation leaves the list as it was.
        block = std::make_unique<std::byte[]>(static_cast<std::size_t>(NewCapacity) *
                                              static_cast<std::size_t>(itemSize_));
        if (count_ > 0)
            std::memcpy(block.get(), data_.get(),
                        static_cast<std::size_t>(count_) * static_cast<std::size_t>(itemSize_));
    }
    data_ = std::move(block);
    capacity_ = NewCapacity;
}

void TLEList::SetCount(int NewCount) {
    if (NewCount < 0 || NewCount >= MaxListSize) Error(ListCountErrorText(), NewCount);
    if (NewCount > capacity_) SetCapacity(NewCount);
    if (finalizer_) {
        if (NewCount > count_) ZeroFill(count_, NewCount);
        // Last first; each record leaves the list before its finalizer runs,
        // so a finalizer that raises never leaves a half-released record inside.
        while (count_ > NewCount) {
            --count_;
            finalizer_(Item(count_));
        }
    }
    count_ = NewCount;
}

void TLEList::Clear() {
    SetCount(0);
    SetCapacity(0);
}

bool TLEList::Find(std::intptr_t Key, const TCompare& Compare, int& Index) const {
    return Bisect(count_, [&](int i) { return Compare(Item(i), Key); }, false, Index);
}

}  // namespace rtl
