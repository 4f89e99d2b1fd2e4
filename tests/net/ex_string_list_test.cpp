#include <gtest/gtest.h>

#include <string>

#include "net/ex_string_list.h"

namespace {

TEST(TExStringList, SetValueReplacesAddsAndRemovesLines) {
    TExStringList list;
    list.Add("GET / HTTP/1.0");
    list.SetValue("Host", "a");
    list.SetValue("host", "b");  // the same name in other case: still one line
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1], "host: b");
    list.SetValue("Accept", "*/*");
    EXPECT_EQ(list.Text(), "GET / HTTP/1.0\r\nhost: b\r\nAccept: */*\r\n");
    list.SetValue("Host", "");
    EXPECT_EQ(list.Text(), "GET / HTTP/1.0\r\nAccept: */*\r\n");
    list.SetValue("Referer", "");  // removing a missing line adds nothing
    EXPECT_EQ(list.Count(), 2);
}

TEST(TExStringList, GetValueSkipsOneSpaceAfterTheColon) {
    TExStringList list;
    list.Add("Host:x");
    list.Add("Cookie:  two");
    list.Add("NoColonHere");
    list.Add("Empty:");
    EXPECT_EQ(list.GetValue("host"), "x");
    EXPECT_EQ(list.GetValue("Cookie"), " two");
    EXPECT_EQ(list.GetValue("Empty"), "");
    EXPECT_EQ(list.GetValue("Missing"), "");
    // A line without a colon has no name.
    EXPECT_EQ(list.IndexOfName("NoColonHere"), -1);
}

TEST(TExStringList, UnsortedListFindsTheFirstOfEqualNames) {
    TExStringList list;
    list.Add("Accept: a");
    list.Add("Accept: b");
    EXPECT_EQ(list.IndexOfName("ACCEPT"), 0);
    EXPECT_EQ(list.IndexOfName("Accep"), -1);
    EXPECT_EQ(list.IndexOfName("Accepts"), -1);
}

TEST(TExStringList, SortedListFindsEveryNameByBisection) {
    TExStringList list;
    list.SetSorted(true);
    const char* names[] = {"Zeta", "alpha", "Mike",  "delta",  "Kilo",    "bravo",  "Echo",
                           "golf", "India", "hotel", "Juliet", "charlie", "foxtrot"};
    for (const char* name : names) {
        list.Add(std::string(name) + ": v-" + name);
    }
    // The lines are in case-insensitive order.
    for (int i = 1; i < list.Count(); ++i) {
        EXPECT_LT(TExStringList::CompareText(list[i - 1], list[i]), 0) << list[i];
    }
    for (const char* name : names) {
        const int i = list.IndexOfName(name);
        ASSERT_GE(i, 0) << name;
        EXPECT_EQ(list.GetValue(name), std::string("v-") + name);
    }
    EXPECT_EQ(list.IndexOfName("aaa"), -1);   // before the first
    EXPECT_EQ(list.IndexOfName("zzzz"), -1);  // after the last
    EXPECT_EQ(list.IndexOfName("hotels"), -1);
    TExStringList empty;
    empty.SetSorted(true);
    EXPECT_EQ(empty.IndexOfName("x"), -1);
}

TEST(TExStringList, SortedListKeepsItsOrderWhenValuesChange) {
    TExStringList list;
    list.Add("b: 1");
    list.Add("a: 2");
    list.SetSorted(true);
    EXPECT_EQ(list[0], "a: 2");
    list.SetValue("c", "3");
    list.SetValue("a", "9");
    EXPECT_EQ(list.Text(), "a: 9\r\nb: 1\r\nc: 3\r\n");
    list.SetValue("b", "");
    EXPECT_EQ(list.Text(), "a: 9\r\nc: 3\r\n");
}

}  // namespace
