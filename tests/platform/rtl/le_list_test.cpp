#include "platform/rtl/le_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"

using rtl::TLEList;
using rtl::TLEListOf;

namespace {

std::vector<std::int32_t> g_finalized;

void RecordFinalized(void* item) {
    std::int32_t v;
    std::memcpy(&v, item, sizeof v);
    g_finalized.push_back(v);
}

std::int32_t& IntAt(const TLEList& list, int i) { return *static_cast<std::int32_t*>(list.Get(i)); }

int CompareInt(const void* item, std::intptr_t key) {
    return *static_cast<const std::int32_t*>(item) - static_cast<std::int32_t>(key);
}

std::unique_ptr<TLEList> MakeKeys(std::initializer_list<std::int32_t> keys) {
    auto list = std::make_unique<TLEList>(sizeof(std::int32_t));
    for (auto k : keys) *static_cast<std::int32_t*>(list->Add()) = k;
    return list;
}

// Runs f, expects EListError with the given message (UTF-8) and value.
template <class F>
void ExpectListError(F f, const char* utf8Message, int value) {
    try {
        f();
        ADD_FAILURE() << "no EListError";
    } catch (const rtl::EListError& e) {
        std::string expected = rtl::Utf8ToAnsi(utf8Message);
        expected.replace(expected.find("%d"), 2, std::to_string(value));
        EXPECT_EQ(e.Message, expected);
    }
}

}  // namespace

// Capacity grows by 4 up to 8 records, by 16 up to 64, then by a quarter:
// few reallocations for the graph's long lists of pending points, little
// waste for the short ones.
TEST(le_list, grows_by_four_then_sixteen_then_a_quarter) {
    TLEList list(16);
    std::vector<int> capacities;
    for (int i = 0; i < 200; ++i) {
        list.Add();
        if (capacities.empty() || capacities.back() != list.Capacity())
            capacities.push_back(list.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183, 228}));
    TLEList five(1);
    for (int i = 0; i < 5; ++i) five.Add();
    EXPECT_EQ(five.Count(), 5);
    EXPECT_EQ(five.Capacity(), 8);
}

TEST(le_list, insert_moves_records_and_keeps_contents) {
    auto owner = MakeKeys({1, 2, 3});
    TLEList& list = *owner;
    *static_cast<std::int32_t*>(list.Insert(3)) = 4;  // at Count: appends
    *static_cast<std::int32_t*>(list.Insert(0)) = 0;  // at 0: everything moves up
    *static_cast<std::int32_t*>(list.Insert(2)) = 9;
    std::vector<int> got;
    for (int i = 0; i < list.Count(); ++i) got.push_back(IntAt(list, i));
    EXPECT_EQ(got, (std::vector<int>{0, 1, 9, 2, 3, 4}));
    // records survive a reallocation of the block
    list.SetCapacity(100);
    EXPECT_EQ(IntAt(list, 5), 4);
    list.SetCapacity(6);
    EXPECT_EQ(IntAt(list, 2), 9);
}

TEST(le_list, finalizer_zero_fills_and_finalizes_last_first) {
    g_finalized.clear();
    {
        TLEList list(sizeof(std::int32_t), &RecordFinalized);
        list.SetCount(10);
        EXPECT_EQ(list.Count(), 10);
        EXPECT_EQ(list.Capacity(), 10);
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(IntAt(list, i), 0);
            IntAt(list, i) = i;
        }
        list.SetCount(3);
        EXPECT_EQ(g_finalized, (std::vector<std::int32_t>{9, 8, 7, 6, 5, 4, 3}));
        EXPECT_EQ(list.Capacity(), 10);
        // regrowing zero-fills again; Add and Insert zero-fill too
        list.SetCount(4);
        EXPECT_EQ(IntAt(list, 3), 0);
        IntAt(list, 3) = 77;
        list.SetCount(3);
        *static_cast<std::int32_t*>(list.Add()) = 0;
        EXPECT_EQ(IntAt(list, 3), 0);
        IntAt(list, 3) = 33;
        g_finalized.clear();
    }
    // the destructor clears, finalizing what is left
    EXPECT_EQ(g_finalized, (std::vector<std::int32_t>{33, 2, 1, 0}));
}

// Find answers the equal record the bisection meets, or else the place where
// the key belongs: callers insert there and the list stays sorted.
TEST(le_list, find_answers_the_equal_record_met_or_the_place_that_keeps_the_order) {
    int index = -1;
    auto keysOwner = MakeKeys({1, 3, 3, 5});
    TLEList& keys = *keysOwner;
    EXPECT_TRUE(keys.Find(3, CompareInt, index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(keys.Find(4, CompareInt, index));
    EXPECT_EQ(index, 3);
    EXPECT_FALSE(keys.Find(9, CompareInt, index));
    EXPECT_EQ(index, 4);
    EXPECT_FALSE(keys.Find(0, CompareInt, index));
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(MakeKeys({3, 3, 3})->Find(3, CompareInt, index));
    EXPECT_EQ(index, 1);
    TLEList empty(4);
    index = -1;
    EXPECT_FALSE(empty.Find(3, CompareInt, index));
    EXPECT_EQ(index, 0);
}

TEST(le_list, errors_carry_the_value_and_leave_the_list_unchanged) {
    EXPECT_THROW(TLEList(0), rtl::EListError);
    TLEList bytes(1);
    EXPECT_EQ(bytes.ItemSize(), 1);
    EXPECT_EQ(bytes.Count(), 0);
    *static_cast<char*>(bytes.Add()) = 'x';
    EXPECT_EQ(*static_cast<char*>(bytes.Get(0)), 'x');
    auto owner = MakeKeys({1, 2, 3});
    TLEList& list = *owner;
    const int capacity = list.Capacity();
    ExpectListError([&] { list.Get(3); }, "Индекс списка вышел за границы (%d)", 3);
    ExpectListError([&] { list.Get(-1); }, "Индекс списка вышел за границы (%d)", -1);
    ExpectListError([&] { list.Insert(4); }, "Индекс списка вышел за границы (%d)", 4);
    ExpectListError([&] { list.SetCapacity(2); }, "Размер списка вышел за границы (%d)", 2);
    ExpectListError([&] { list.SetCapacity(134217728); }, "Размер списка вышел за границы (%d)",
                    134217728);
    ExpectListError([&] { list.SetCount(-1); }, "Счетчик списка вышел за границы (%d)", -1);
    ExpectListError([&] { list.SetCount(134217728); }, "Счетчик списка вышел за границы (%d)",
                    134217728);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Capacity(), capacity);
    EXPECT_EQ(IntAt(list, 2), 3);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
}

TEST(le_list, typed_list_owns_its_string_records) {
    struct TPluginVar {
        std::string Name, Value;
    };
    TLEListOf<TPluginVar> vars;
    auto byName = [](const TPluginVar& v, const std::string& key) { return v.Name.compare(key); };
    auto set = [&](const std::string& name, const std::string& value) {
        int index;
        if (!vars.Find(name, byName, index)) vars.Insert(index).Name = name;
        vars[index].Value = value;
    };
    set("B", std::string(100, 'b'));  // longer than any small-string buffer
    set("A", "1");
    set("C", "3");
    set("B", "2");
    ASSERT_EQ(vars.Count(), 3);
    EXPECT_EQ(vars[0].Name + vars[1].Name + vars[2].Name, "ABC");
    EXPECT_EQ(vars[1].Value, "2");
    vars.SetCount(5);
    EXPECT_EQ(vars[4].Name, "");
    vars.SetCount(1);
    EXPECT_EQ(vars.Count(), 1);
    EXPECT_THROW(vars.Get(1), rtl::EListError);
    EXPECT_THROW(vars.Insert(3), rtl::EListError);
    EXPECT_EQ(vars.Count(), 1);
    // the sanitizers check that nothing leaks and nothing is freed twice
}
