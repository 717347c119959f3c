#include <gtest/gtest.h>

#include <vector>

#include "verify/CBitmap.h"
#include "verify/CNumberSet.h"

namespace {

std::vector<int32_t> Items(const CNumberSet& set) {
  std::vector<int32_t> out;
  for (uint32_t i = 0; i < set.Count(); ++i) {
    int32_t v = 0;
    EXPECT_TRUE(set.GetAt(i, v));
    out.push_back(v);
  }
  return out;
}

TEST(CNumberSet, GrowsByItsStepAndKeepsOrder) {
  CNumberSet set(50, 50);
  for (int32_t i = 0; i < 51; ++i) ASSERT_EQ(set.Add(i, false), 0u);
  EXPECT_EQ(set.Count(), 51u);
  EXPECT_EQ(set.Capacity(), 100u);
  int32_t v = -1;
  ASSERT_TRUE(set.GetAt(50, v));
  EXPECT_EQ(v, 50);
}

TEST(CNumberSet, SortedInsertPutsEqualValuesAfterEachOther) {
  CNumberSet set(2, 2);  // forces growth in the middle of sorted inserts
  for (int32_t v : {7, 3, 5, 3, -4}) ASSERT_EQ(set.Add(v, true), 0u);
  EXPECT_EQ(Items(set), (std::vector<int32_t>{-4, 3, 3, 5, 7}));
}

TEST(CNumberSet, GetAtPastTheEndLeavesTheValue) {
  CNumberSet set(50, 50);
  ASSERT_EQ(set.Add(9, false), 0u);
  int32_t v = 1234;
  EXPECT_FALSE(set.GetAt(set.Count(), v));
  EXPECT_EQ(v, 1234);
}

TEST(CNumberSet, RefusesToGrowPastTheLimitAndStaysAsItWas) {
  CNumberSet huge(1, 100'000'000);
  ASSERT_EQ(huge.Add(1, false), 0u);
  EXPECT_EQ(huge.Add(2, false), 8u);
  EXPECT_EQ(Items(huge), (std::vector<int32_t>{1}));
  EXPECT_EQ(huge.Capacity(), 1u);

  CNumberSet stuck(1, 0);  // no growth at all
  ASSERT_EQ(stuck.Add(1, true), 0u);
  EXPECT_EQ(stuck.Add(0, true), 8u);
  EXPECT_EQ(Items(stuck), (std::vector<int32_t>{1}));
}

TEST(CBitmap, BitOrderIsThatOfTheNtfsBitmap) {
  const uint8_t bytes[] = {0x01, 0x80, 0x04};
  CBitmap map(std::span<const uint8_t>(bytes), 20);  // 20 bits: 3 bytes copied
  EXPECT_TRUE(map.GetBit(0));
  EXPECT_FALSE(map.GetBit(1));
  EXPECT_TRUE(map.GetBit(15));
  EXPECT_TRUE(map.GetBit(18));
  EXPECT_EQ(map.StorageBytes(), 20u / 8 + 1);
  // The extra position (BitCount itself) is addressable; beyond it nothing.
  map.SetBit(20, true);
  EXPECT_TRUE(map.GetBit(20));
  map.SetBit(21, true);
  EXPECT_FALSE(map.GetBit(21));
  map.SetBit(0, false);
  EXPECT_FALSE(map.GetBit(0));
}

TEST(CBitmap, CopyFromShortBytesLeavesTheRestClear) {
  const uint8_t one = 0xFF;
  CBitmap map(std::span<const uint8_t>(&one, 1), 64);
  EXPECT_TRUE(map.GetBit(7));
  EXPECT_FALSE(map.GetBit(8));
  EXPECT_FALSE(map.GetBit(63));
}

TEST(CBitmap, FillConstructorSetsEveryByte) {
  CBitmap map(100, 0xFF);
  EXPECT_TRUE(map.GetBit(0));
  EXPECT_TRUE(map.GetBit(100));
  EXPECT_FALSE(map.GetBit(101));
}

TEST(CDirtyBitmap, ExtraPositionIsMarkedButNeverBrowsed) {
  CDirtyBitmap set(16, true);
  set.MarkDirty(16);
  EXPECT_TRUE(set.IsDirty(16));
  EXPECT_EQ(set.DirtyCount(), 1u);
  EXPECT_EQ(set.FindFirst(), 16u);  // = BitCount: none
}

TEST(CDirtyBitmap, MarkDirtyCountsEveryCall) {
  CDirtyBitmap set(16, true);
  set.MarkDirty(3);
  set.MarkDirty(3);
  EXPECT_EQ(set.DirtyCount(), 2u);
  EXPECT_TRUE(set.IsDirty(3));
}

TEST(CDirtyBitmap, BrowsesUpAndDownAcrossWords) {
  CDirtyBitmap set(5000, true);
  const std::vector<uint64_t> marks = {5, 63, 64, 200, 1000, 4999};
  for (uint64_t m : marks) set.MarkDirty(m);
  std::vector<uint64_t> up;
  for (uint64_t p = set.FindFirst(); p < set.BitCount(); p = set.FindNext()) up.push_back(p);
  EXPECT_EQ(up, marks);
  EXPECT_EQ(set.FindNext(), 5000u);  // still "none" at the end
  // Down from 4999: 1000, 200, 64, 63, 5, then 0 for "none below".
  set.FindFirst();
  while (set.Cursor() != 4999) set.FindNext();
  std::vector<uint64_t> down;
  for (uint64_t p = set.FindPrevious(); p != 0; p = set.FindPrevious()) down.push_back(p);
  EXPECT_EQ(down, (std::vector<uint64_t>{1000, 200, 64, 63, 5}));
  EXPECT_EQ(set.FindPrevious(), 0u);  // at 0 it stays there
}

TEST(CDirtyBitmap, FindPreviousNeverTestsBitZero) {
  CDirtyBitmap withZero(16, true);
  withZero.MarkDirty(0);
  withZero.MarkDirty(9);
  withZero.FindFirst();
  ASSERT_EQ(withZero.FindNext(), 9u);
  EXPECT_EQ(withZero.FindPrevious(), 0u);

  CDirtyBitmap withoutZero(16, true);
  withoutZero.MarkDirty(9);
  ASSERT_EQ(withoutZero.FindFirst(), 9u);
  EXPECT_EQ(withoutZero.FindPrevious(), 0u);
}

TEST(CDirtyBitmap, CopyStartsAtCursorZeroWithTheSameCount) {
  CDirtyBitmap set(100, false);
  set.MarkDirty(10);
  set.MarkDirty(40);
  set.MarkDirty(40);
  set.FindFirst();
  set.FindNext();
  ASSERT_EQ(set.Cursor(), 40u);
  CDirtyBitmap copy(set);
  EXPECT_EQ(copy.Cursor(), 0u);
  EXPECT_EQ(copy.DirtyCount(), 3u);
  EXPECT_FALSE(copy.UnitsAreSectors());
  EXPECT_EQ(copy.BitCount(), 100u);
  EXPECT_EQ(copy.FindFirst(), 10u);
  // The copy is its own: marking it leaves the original alone.
  copy.MarkDirty(50);
  EXPECT_FALSE(set.IsDirty(50));
}

}  // namespace
