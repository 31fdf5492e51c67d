// Arrays: bounds, element conversion, ReDim Preserve, appending, and the
// sharing rules that let large sample vectors travel without copies.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "automation/Array.h"
#include "automation/Variant.h"

using namespace cvn::automation;

TEST(Array, BoundsAndElementAccess) {
    Array a(VarType::Double, 1, 3);
    EXPECT_EQ(a.lowerBound(), 1);
    EXPECT_EQ(a.upperBound(), 3);
    EXPECT_EQ(a.count(), 3u);
    EXPECT_EQ(a.get(1), Variant(0.0));

    a.set(3, Variant("2.5"));  // converted to the element type
    EXPECT_EQ(a.get(3), Variant(2.5));
    EXPECT_EQ(errorOf([&] { a.get(0); }), 9);
    EXPECT_EQ(errorOf([&] { a.get(4); }), 9);
    EXPECT_EQ(errorOf([&] { a.set(2, Variant("x")); }), 13);

    Array words(VarType::Integer, 0, 1);
    EXPECT_EQ(errorOf([&] { words.set(0, Variant(40000)); }), 6);
    words.set(0, Variant(true));
    EXPECT_EQ(words.get(0), Variant(int16_t{-1}));

    Array none(VarType::Byte, 0, 0);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.upperBound(), -1);

    Array variants(VarType::Variant, -2, 2);
    variants.set(-1, Variant("kept as is"));
    EXPECT_EQ(variants.get(-1), Variant("kept as is"));
    EXPECT_EQ(variants.get(-2), Variant());

    EXPECT_EQ(errorOf([] { Array(VarType::String, 0, 1); }), 5);
}

TEST(Array, RedimPreserveKeepsContents) {
    // The preamble pattern: start at upper bound 0, grow by blocks.
    Array a(VarType::Double, 0, 1);
    a.set(0, Variant(7.0));
    a.redimPreserve(10);
    EXPECT_EQ(a.count(), 11u);
    EXPECT_EQ(a.get(0), Variant(7.0));
    EXPECT_EQ(a.get(10), Variant(0.0));
    a.redimPreserve(21);
    EXPECT_EQ(a.upperBound(), 21);
    EXPECT_EQ(a.get(0), Variant(7.0));

    a.redimPreserve(0);  // shrinking drops the tail
    EXPECT_EQ(a.count(), 1u);
    a.redimPreserve(-1);
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(errorOf([&] { a.redimPreserve(-2); }), 9);

    Array b(VarType::Long, 5, 2);
    b.set(6, Variant(9));
    b.redimPreserve(8);
    EXPECT_EQ(b.lowerBound(), 5);
    EXPECT_EQ(b.get(6), Variant(9));

    b.redim(0, 1);
    EXPECT_EQ(b.lowerBound(), 0);
    EXPECT_EQ(b.elementType(), VarType::Long);
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
    Array data = Array::adopt(cvn::DataVector<int16_t>{1, 2, 3, 4});
    data.append(Array::adopt(cvn::DataVector<int16_t>{5, 6, 7}));
    cvn::DataVector<int16_t> expected{1, 2, 3, 4, 5, 6, 7};
    auto view = data.view<int16_t>();
    EXPECT_EQ(cvn::DataVector<int16_t>(view.begin(), view.end()), expected);

    data.append(Array::adopt(cvn::DataVector<double>{8.5}));  // rounds half to even
    EXPECT_EQ(data.get(7), Variant(int16_t{8}));
    EXPECT_EQ(errorOf([&] { data.append(Array::adopt(cvn::DataVector<double>{1e6})); }), 6);

    data.append(data);  // appending to itself doubles it
    EXPECT_EQ(data.count(), 16u);
    EXPECT_EQ(data.get(8), Variant(int16_t{1}));
}

TEST(Array, AdoptedVectorsAreNotCopied) {
    cvn::DataVector<int16_t> samples(1 << 20, 3);
    const int16_t* storage = samples.data();

    Variant v(std::move(samples));
    EXPECT_EQ(v.array().data(), storage);
    EXPECT_EQ(v.array().view<int16_t>().data(), storage);
    EXPECT_EQ(v.array().count(), size_t{1} << 20);
    EXPECT_EQ(errorOf([&] { v.array().view<double>(); }), 13);

    Variant copy = v;  // shares until written
    EXPECT_EQ(copy.array().data(), storage);

    cvn::DataVector<int16_t> back = v.array().takeVector<int16_t>();  // shared: copies
    EXPECT_NE(back.data(), storage);
    EXPECT_TRUE(v.array().empty());

    cvn::DataVector<int16_t> moved = copy.array().takeVector<int16_t>();  // sole owner: moves
    EXPECT_EQ(moved.data(), storage);
}

TEST(Array, CopiesAreIndependentValues) {
    Variant original(cvn::DataVector<double>{1, 2, 3});
    Variant byValue = original;
    EXPECT_TRUE(byValue.array().sharesStorageWith(original.array()));

    byValue.array().set(0, Variant(100.0));
    EXPECT_EQ(original.array().get(0), Variant(1.0));
    EXPECT_EQ(byValue.array().get(0), Variant(100.0));
    EXPECT_FALSE(byValue.array().sharesStorageWith(original.array()));

    Variant second = original;
    second.array().edit<double>()[2] = 30;
    second.array().redimPreserve(5);
    EXPECT_EQ(original.array().count(), 3u);
    EXPECT_EQ(original.array().get(2), Variant(3.0));

    // A reference, by contrast, is the caller's own Variant.
    Variant& byRef = original;
    byRef.array().set(1, Variant(20.0));
    EXPECT_EQ(original.array().get(1), Variant(20.0));

    // Writing in place when nothing shares the elements keeps the storage.
    const void* before = original.array().data();
    original.array().edit<double>()[0] = 5;
    EXPECT_EQ(original.array().data(), before);
    EXPECT_EQ(original, Variant(cvn::DataVector<double>{5, 20, 3}));
}
