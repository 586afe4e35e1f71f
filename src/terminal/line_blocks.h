#pragma once
// Storage for the receive panel's lines: fixed-size blocks taken straight
// from the system, so that a cleared list gives its memory back at once
// (memory freed into the heap would stay with the process), and a queue of
// small records kept in such blocks, cheap to grow at the back and to drop
// at the front.
#include <cstddef>
#include <cstring>
#include <deque>
#include <memory>
#include <type_traits>
#include <vector>

namespace terminal {

class TBlockPool {
public:
    struct TRelease {
        std::size_t Size = 0;
        void operator()(char* Block) const;
    };
    using TBlock = std::unique_ptr<char[], TRelease>;

    explicit TBlockPool(std::size_t BlockSize) : blockSize_(BlockSize) { spares_.reserve(spareLimit_); }
    TBlockPool(const TBlockPool&) = delete;
    TBlockPool& operator=(const TBlockPool&) = delete;

    std::size_t BlockSize() const { return blockSize_; }

    // A spare block, or a fresh one from the system (std::bad_alloc when it
    // refuses). Its contents are undefined.
    TBlock Take();
    // Keeps the block for the next Take while fewer than the spare limit
    // wait; otherwise it goes back to the system. Never throws.
    void Give(TBlock Block) noexcept;
    void SetSpareLimit(std::size_t Blocks);
    void ReleaseSpares() { spares_.clear(); }

    std::size_t BlocksInUse() const { return inUse_; }
    std::size_t Spares() const { return spares_.size(); }

private:
    std::size_t blockSize_;
    std::size_t inUse_ = 0;
    std::size_t spareLimit_ = 1;
    std::vector<TBlock> spares_;
};

// A queue of trivially copyable records in blocks of a pool: indexed access,
// push at the back, pop at the front (a block goes back to the pool as soon
// as it empties), erasing in the middle by moving the records behind.
template <class T>
class TBlockQueue {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    explicit TBlockQueue(TBlockPool& Pool) : pool_(Pool), perBlock_(Pool.BlockSize() / sizeof(T)) {}
    TBlockQueue(const TBlockQueue&) = delete;
    TBlockQueue& operator=(const TBlockQueue&) = delete;
    ~TBlockQueue() { clear(); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    T& operator[](std::size_t Index) { return *Slot(head_ + Index); }
    const T& operator[](std::size_t Index) const { return *Slot(head_ + Index); }
    T& front() { return (*this)[0]; }
    const T& front() const { return (*this)[0]; }
    T& back() { return (*this)[size_ - 1]; }
    const T& back() const { return (*this)[size_ - 1]; }

    void push_back(const T& Value) {
        if (head_ + size_ == blocks_.size() * perBlock_) blocks_.push_back(pool_.Take());
        std::memcpy(static_cast<void*>(Slot(head_ + size_)), &Value, sizeof(T));
        ++size_;
    }

    void pop_front() {
        ++head_;
        --size_;
        if (size_ == 0) {
            clear();
        } else if (head_ == perBlock_) {
            pool_.Give(std::move(blocks_.front()));
            blocks_.pop_front();
            head_ = 0;
        }
    }

    void pop_back() {
        --size_;
        if (size_ == 0) {
            clear();
        } else if (head_ + size_ <= (blocks_.size() - 1) * perBlock_) {
            pool_.Give(std::move(blocks_.back()));
            blocks_.pop_back();
        }
    }

    void erase(std::size_t Index) {
        for (std::size_t k = Index; k + 1 < size_; ++k) (*this)[k] = (*this)[k + 1];
        pop_back();
    }

    void clear() {
        for (auto& b : blocks_) pool_.Give(std::move(b));
        blocks_.clear();
        head_ = 0;
        size_ = 0;
    }

private:
    T* Slot(std::size_t K) const {
        return reinterpret_cast<T*>(blocks_[K / perBlock_].get()) + K % perBlock_;
    }

    TBlockPool& pool_;
    std::size_t perBlock_;
    std::deque<TBlockPool::TBlock> blocks_;
    std::size_t head_ = 0;  // slot of the first record in the first block
    std::size_t size_ = 0;
};

}  // namespace terminal
