#include "anim/key.h"

#include <gtest/gtest.h>

#include <utility>

using namespace vendrake;

TEST(AnimValueArray, KeepsValuesAndZeroesNewElementsAcrossTheInlineLimit)
{
    TAnimValueArray a(3);
    for (int i = 0; i < 3; ++i)
        a[i] = {i + 1.0, i + 0.5f, -i - 0.5f};

    a.SetCount(6); // beyond the inline slots
    ASSERT_EQ(a.Count(), 6);
    EXPECT_EQ(a[2].Value, 3.0);
    EXPECT_EQ(a[2].OutTangent, -2.5f);
    for (int i = 3; i < 6; ++i)
        EXPECT_EQ(a[i].Value, 0.0);
    a[5].Value = 9;

    a.SetCount(2); // back inline
    EXPECT_EQ(a[1].Value, 2.0);
    a.SetCount(4);
    EXPECT_EQ(a[2].Value, 0.0); // not the old 3
    EXPECT_EQ(a[2].InTangent, 0.0f);
    a.SetCount(1);
    a.SetCount(8);
    EXPECT_EQ(a[0].Value, 1.0);
    for (int i = 1; i < 8; ++i)
        EXPECT_EQ(a[i].Value, 0.0) << i;

    a.SetCount(-1);
    EXPECT_EQ(a.Count(), 0);
    EXPECT_EQ(a.begin(), a.end());
}

TEST(AnimKeyList, NewKeysTakeTheListsChannelCountWhichIsFixedOnceKeysExist)
{
    TAnimKeyList list;
    list.SetChannelCount(3);
    list.SetChannelCount(4);
    TAnimKey* first = list.AddKey();
    EXPECT_EQ(first->ChannelCount(), 4);
    EXPECT_EQ(first->Time, 0.0f);
    EXPECT_EQ(first->Tension, 0.0f);
    EXPECT_EQ(first->Values[3].Value, 0.0);

    list.SetChannelCount(2);
    EXPECT_EQ(list.ChannelCount(), 4);
    EXPECT_EQ(list.AddKey()->ChannelCount(), 4);

    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Get(0), first);
    EXPECT_EQ(list.Get(-1), nullptr);
    EXPECT_EQ(list.Get(2), nullptr);
    EXPECT_EQ(std::as_const(list).Get(2), nullptr);

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Get(0), nullptr);
    list.SetChannelCount(2);
    EXPECT_EQ(list.AddKey()->ChannelCount(), 2);
}
