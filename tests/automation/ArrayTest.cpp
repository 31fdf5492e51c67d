// Arrays: bounds, element conversion, ReDim Preserve, appending, and the
// sharing rules that let large sample vectors travel without copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "TestSupport.h"
#include "automation/Array.h"

using namespace cvn::automation;
using cvn::DataVector;

TEST(Array, BoundsAndElementConversion) {
    Array a(VarType::Double, 1, 3);
    EXPECT_EQ(a.get(1), Variant(0.0));
    a.set(3, Variant("2.5"));  // converted to the element type
    EXPECT_EQ(a.get(3), Variant(2.5));
    Array words(VarType::Integer, 0, 1);
    words.set(0, Variant(true));
    EXPECT_EQ(words.get(0), Variant(int16_t{-1}));
    Array variants(VarType::Variant, -2, 2);
    variants.set(-1, Variant("kept as is"));
    EXPECT_EQ(variants.get(-1), Variant("kept as is"));
    EXPECT_EQ(variants.get(-2), Variant());
    EXPECT_EQ(Array(VarType::Byte, 0, 0).upperBound(), -1);
    const std::pair<const char*, std::function<void()>> faults[] = {
        {"below the lower bound", [&] { a.get(0); }},
        {"above the upper bound", [&] { a.get(4); }},
        {"text for a number", [&] { a.set(2, Variant("x")); }},
        {"out of the element's range", [&] { words.set(0, Variant(40000)); }},
        {"an element type arrays cannot hold", [] { Array(VarType::String, 0, 1); }},
        {"a negative count", [&] { a.redimPreserve(-2); }},
        {"a view of another type", [&] { a.view<int16_t>(); }},
    };
    const int expected[] = {9, 9, 13, 6, 5, 9, 13};
    for (size_t i = 0; i < std::size(faults); ++i)
        EXPECT_EQ(errorOf(faults[i].second), expected[i]) << faults[i].first;
}

TEST(Array, RedimPreserveKeepsContentsAndGrowsWithZeros) {
    Array a(VarType::Double, 0, 1);
    a.set(0, Variant(7.0));
    a.redimPreserve(21);
    EXPECT_EQ(a.count(), 22u);
    EXPECT_EQ(a.get(0), Variant(7.0));
    EXPECT_EQ(a.get(21), Variant(0.0));
    a.redimPreserve(-1);
    EXPECT_TRUE(a.empty());

    Array b(VarType::Long, 5, 2);
    b.set(6, Variant(9));
    b.redimPreserve(8);
    EXPECT_EQ(b.lowerBound(), 5);
    EXPECT_EQ(b.get(6), Variant(9));
    b.redim(0, 1);
    EXPECT_EQ(b.lowerBound(), 0);
    EXPECT_EQ(b.get(1), Variant(0));

    // Growing again over storage that held data gives zeros, not the old
    // values (the shrink keeps the memory).
    Array w(VarType::Integer, 0, 1000);
    for (int16_t& x : w.edit<int16_t>()) x = 7;
    w.redimPreserve(0);
    w.redimPreserve(999);
    auto grown = w.view<int16_t>();
    EXPECT_EQ(std::count(grown.begin(), grown.end(), int16_t{0}), 999);
}

TEST(Array, AppendConvertsIntoTheFirstElementType) {
    Array data = Array::adopt(DataVector<int16_t>{1, 2, 3, 4});
    data.append(Array::adopt(DataVector<int16_t>{5, 6, 7}));
    data.append(Array::adopt(DataVector<double>{8.5}));  // rounds half to even
    auto view = data.view<int16_t>();
    EXPECT_EQ(DataVector<int16_t>(view.begin(), view.end()),
              (DataVector<int16_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(errorOf([&] { data.append(Array::adopt(DataVector<double>{1e6})); }), 6);
    data.append(data);  // appending to itself doubles it
    EXPECT_EQ(data.count(), 16u);
    EXPECT_EQ(data.get(8), Variant(int16_t{1}));
}

TEST(Array, SharedUntilWrittenAndAdoptedWithoutCopies) {
    DataVector<int16_t> samples(1 << 20, 3);
    const int16_t* storage = samples.data();
    Variant v(std::move(samples));
    EXPECT_EQ(v.array().view<int16_t>().data(), storage);
    Variant copy = v;  // shares until written
    EXPECT_EQ(copy.array().data(), storage);
    DataVector<int16_t> back = v.array().takeVector<int16_t>();  // shared: copies
    EXPECT_NE(back.data(), storage);
    EXPECT_TRUE(v.array().empty());
    EXPECT_EQ(copy.array().takeVector<int16_t>().data(), storage);  // sole owner: moves

    Variant original(DataVector<double>{1, 2, 3});
    Variant byValue = original;
    byValue.array().set(0, Variant(100.0));
    byValue.array().redimPreserve(5);
    EXPECT_FALSE(byValue.array().sharesStorageWith(original.array()));
    const void* before = original.array().data();
    original.array().edit<double>()[2] = 30;  // nothing shares: written in place
    EXPECT_EQ(original.array().data(), before);
    EXPECT_EQ(original, Variant(DataVector<double>{1, 2, 30}));
    EXPECT_EQ(byValue.array().get(0), Variant(100.0));
}
