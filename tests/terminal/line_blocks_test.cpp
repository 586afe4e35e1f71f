#include "terminal/line_blocks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>

namespace terminal {
namespace {

constexpr std::size_t kPerBlock = 4;

// The blocks a queue holding size records from slot head of its first
// block needs.
std::size_t BlocksFor(std::size_t head, std::size_t size) {
    return size == 0 ? 0 : (head + size + kPerBlock - 1) / kPerBlock;
}

::testing::AssertionResult Same(const TBlockQueue<std::uint32_t>& queue, const std::deque<std::uint32_t>& model) {
    if (queue.size() != model.size())
        return ::testing::AssertionFailure() << "size " << queue.size() << ", wanted " << model.size();
    for (std::size_t i = 0; i < model.size(); ++i)
        if (queue[i] != model[i])
            return ::testing::AssertionFailure() << "record " << i << " is " << queue[i] << ", wanted " << model[i];
    return ::testing::AssertionSuccess();
}

TEST(line_blocks, pop_back_and_erase_across_block_edges_keep_the_records_and_give_back_empty_blocks) {
    TBlockPool pool(kPerBlock * sizeof(std::uint32_t));
    pool.SetSpareLimit(0);
    TBlockQueue<std::uint32_t> queue(pool);
    std::deque<std::uint32_t> model;
    for (std::uint32_t v = 0; v < 10; ++v) {
        queue.push_back(v);
        model.push_back(v);
    }
    // Two dropped at the front: the records start in the middle of a block.
    queue.pop_front();
    queue.pop_front();
    model.erase(model.begin(), model.begin() + 2);
    ASSERT_TRUE(Same(queue, model));
    EXPECT_EQ(pool.BlocksInUse(), 3u);

    // Back to the last record of the second block (slot 7 of 0..9): the
    // third block goes the moment it empties, not a record earlier.
    queue.pop_back();
    model.pop_back();
    EXPECT_EQ(pool.BlocksInUse(), 3u) << "slot 8 still holds a record";
    queue.pop_back();
    model.pop_back();
    EXPECT_EQ(pool.BlocksInUse(), 2u);
    ASSERT_TRUE(Same(queue, model));
    EXPECT_EQ(queue.back(), 7u);
    // Growing again over the edge takes a block again, records intact.
    queue.push_back(100);
    model.push_back(100);
    EXPECT_EQ(pool.BlocksInUse(), 3u);
    ASSERT_TRUE(Same(queue, model));

    // Erasing the first, one in the middle on a block edge, and the last:
    // the records behind move up, and the emptied last block goes back.
    for (std::size_t at : {std::size_t{0}, std::size_t{2}, model.size() - 3}) {
        queue.erase(at);
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
        ASSERT_TRUE(Same(queue, model)) << "after erasing " << at;
        EXPECT_EQ(pool.BlocksInUse(), BlocksFor(2, model.size())) << "after erasing " << at;
    }
    while (!model.empty()) {
        queue.erase(model.size() - 1);
        model.pop_back();
    }
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(pool.BlocksInUse(), 0u);

    // Any mix of the four, checked against a plain queue after every step.
    std::mt19937 random(7);
    std::uint32_t next = 1000;
    std::size_t head = 0;  // where the records start in the first block
    for (int step = 0; step < 4000; ++step) {
        const unsigned op = random() % 8;
        if (model.empty() || op < 4) {
            if (model.empty()) head = 0;
            queue.push_back(next);
            model.push_back(next++);
        } else if (op == 4) {
            queue.pop_front();
            model.pop_front();
            head = model.empty() ? 0 : (head + 1) % kPerBlock;
        } else if (op == 5) {
            queue.pop_back();
            model.pop_back();
        } else {
            const std::size_t at = random() % model.size();
            queue.erase(at);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (model.empty()) head = 0;
        ASSERT_TRUE(Same(queue, model)) << "step " << step;
        ASSERT_EQ(pool.BlocksInUse(), BlocksFor(head, model.size())) << "step " << step;
    }
    queue.clear();
    EXPECT_EQ(pool.BlocksInUse(), 0u);
}

}  // namespace
}  // namespace terminal
