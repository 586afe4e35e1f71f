#include "terminal/line_blocks.h"

#include <new>

#include "platform/win/memory.h"

namespace terminal {

void TBlockPool::TRelease::operator()(char* Block) const { win::VirtualFree(Block, Size); }

TBlockPool::TBlock TBlockPool::Take() {
    TBlock block;
    if (!spares_.empty()) {
        block = std::move(spares_.back());
        spares_.pop_back();
    } else {
        block = TBlock(static_cast<char*>(win::VirtualAlloc(blockSize_)), TRelease{blockSize_});
        if (!block) throw std::bad_alloc();
    }
    ++inUse_;
    return block;
}

void TBlockPool::Give(TBlock Block) noexcept {
    if (!Block) return;
    --inUse_;
    // Room was reserved beforehand, so keeping a spare never allocates.
    if (spares_.size() < spareLimit_ && spares_.size() < spares_.capacity())
        spares_.push_back(std::move(Block));
}

void TBlockPool::SetSpareLimit(std::size_t Blocks) {
    spareLimit_ = Blocks;
    if (spares_.size() > spareLimit_) spares_.resize(spareLimit_);
    spares_.reserve(spareLimit_);
}

}  // namespace terminal
