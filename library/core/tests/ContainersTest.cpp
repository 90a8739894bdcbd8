#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WHashtable.h"
#include "WLinkedList.h"
#include "WStringTokenizer.h"

namespace {

typedef WLinkedList<WString, const char*> StringList;
typedef WHashtable<WString, WString, const char*, const WString&> StringTable;
typedef WHashtable<unsigned long, int, unsigned long, int> IntTable;

std::vector<std::string> drain(const StringList& list)
{
    std::vector<std::string> out;
    while (list.hasMoreElements())
        out.push_back(list.nextValue());
    return out;
}

std::vector<std::string> keys(const StringTable& table)
{
    std::vector<std::string> out;
    while (table.hasMoreElements())
        out.push_back(table.currentKey());
    return out;
}

StringList listOf(std::initializer_list<const char*> values)
{
    StringList list;
    for (const char* v : values)
        list.add(v);
    return list;
}

typedef std::vector<std::string> Strings;

} // namespace

TEST(HashValues, IntegerAndStringKeys)
{
    EXPECT_EQ(WHashKeys::hash(1UL), 158);
    EXPECT_EQ(WHashKeys::hash(1UL) % 100, 58);
    EXPECT_EQ(WHashKeys::hash(0UL), 0);
    EXPECT_EQ(WHashKeys::hash("ab"), 195);
    EXPECT_EQ(WHashKeys::hash("ba"), 195);
    EXPECT_EQ(WHashKeys::hash(WString("ab")), 195);
    EXPECT_EQ(WHashKeys::hash("a\xff"), 96); // 0xFF counts -1
    EXPECT_EQ(WHashKeys::hash("\xff"), 0xFFFF);
    // Only the low 32 bits of a 64-bit key take part.
    EXPECT_EQ(WHashKeys::hash(0x100000001UL), 158);
}

TEST(Hashtable, PutReplacesInPlaceAndKeepsOrder)
{
    StringTable t;
    EXPECT_NE(t.put("b", WString("1")), nullptr);
    EXPECT_NE(t.put("a", WString("2")), nullptr);
    EXPECT_NE(t.put("c", WString("3")), nullptr);
    EXPECT_EQ(t.put("b", WString("9")), nullptr);
    EXPECT_EQ(keys(t), (Strings {"b", "a", "c"}));
    EXPECT_STREQ(t.get("b"), "9");
    EXPECT_EQ(t.size(), 3u);
    EXPECT_TRUE(t.containsKey("a"));
    EXPECT_FALSE(t.containsKey("A"));
    EXPECT_EQ(t.find("zz"), nullptr);
    StringTable::WHash* entry = nullptr;
    ASSERT_NE(t.find("c", &entry), nullptr);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->key, "c");
    EXPECT_THROW(t.get("missing"), WException);
}

TEST(Hashtable, CollidingKeysShareABucket)
{
    StringTable t;
    t.put("ab", WString("x"));
    t.put("ba", WString("y"));
    t.put("\x61\x62\x00", WString("z")); // same C string as "ab"
    EXPECT_EQ(t.size(), 2u);
    EXPECT_STREQ(t.get("ab"), "z");
    EXPECT_STREQ(t.get("ba"), "y");
    EXPECT_TRUE(t.remove("ab"));
    EXPECT_STREQ(t.get("ba"), "y");
    EXPECT_FALSE(t.containsKey("ab"));
    EXPECT_TRUE(t.remove("ba"));
    EXPECT_FALSE(t.remove("ba"));
    EXPECT_EQ(t.size(), 0u);
}

TEST(Hashtable, RemoveMiddleKeepsInsertionOrder)
{
    StringTable t;
    t.put("one", WString("1"));
    t.put("two", WString("2"));
    t.put("three", WString("3"));
    EXPECT_TRUE(t.remove("two"));
    EXPECT_EQ(keys(t), (Strings {"one", "three"}));
}

TEST(Hashtable, CursorRules)
{
    StringTable t;
    t.put("a", WString("1"));
    t.put("b", WString("2"));
    t.put("c", WString("3"));
    // A full pass rewinds; the next pass starts over.
    EXPECT_EQ(keys(t), (Strings {"a", "b", "c"}));
    EXPECT_EQ(keys(t), (Strings {"a", "b", "c"}));
    // A pass broken off after one element continues with the second.
    ASSERT_TRUE(t.hasMoreElements());
    EXPECT_STREQ(t.currentKey(), "a");
    EXPECT_EQ(keys(t), (Strings {"b", "c"}));
    // reset() starts over.
    ASSERT_TRUE(t.hasMoreElements());
    t.reset();
    EXPECT_EQ(keys(t), (Strings {"a", "b", "c"}));
}

TEST(Hashtable, AssignmentCopiesEverythingWhereverTheCursorStands)
{
    StringTable source;
    source.put("a", WString("1"));
    source.put("b", WString("2"));
    source.put("c", WString("3"));
    ASSERT_TRUE(source.hasMoreElements());
    ASSERT_TRUE(source.hasMoreElements()); // cursor now on "c"

    StringTable copy;
    copy.put("old", WString("x"));
    copy = source;
    EXPECT_EQ(keys(copy), (Strings {"a", "b", "c"}));
    // The source's pass goes on undisturbed.
    EXPECT_EQ(keys(source), (Strings {"c"}));

    ASSERT_TRUE(source.hasMoreElements());
    StringTable constructed(source);
    EXPECT_EQ(keys(constructed), (Strings {"a", "b", "c"}));
    EXPECT_STREQ(constructed.get("b"), "2");

    copy = copy;
    EXPECT_EQ(copy.size(), 3u);
}

TEST(Hashtable, IntegerKeysAndRemoveAll)
{
    IntTable t;
    for (unsigned long k = 0; k < 1000; k++)
        t.put(k * 7, (int)k);
    EXPECT_EQ(t.size(), 1000u);
    for (unsigned long k = 0; k < 1000; k++)
        ASSERT_EQ(t.get(k * 7), (int)k);
    unsigned long n = 0;
    unsigned long expected = 0;
    while (t.hasMoreElements()) {
        EXPECT_EQ(t.currentKey(), expected);
        expected += 7;
        n++;
    }
    EXPECT_EQ(n, 1000u);
    t.removeAll();
    EXPECT_EQ(t.size(), 0u);
    EXPECT_FALSE(t.hasMoreElements());
    EXPECT_FALSE(t.containsKey(7));
    t.put(7, 1);
    EXPECT_EQ(t.get(7), 1);
}

TEST(LinkedList, CursorPassesAndMark)
{
    StringList list = listOf({"a", "b", "c"});
    EXPECT_EQ(drain(list), (Strings {"a", "b", "c"}));
    EXPECT_EQ(drain(list), (Strings {"a", "b", "c"}));
    ASSERT_TRUE(list.hasMoreElements());
    EXPECT_STREQ(list.nextValue(), "a");
    list.mark(); // on "b"
    EXPECT_EQ(drain(list), (Strings {"b", "c"}));
    list.nextValue();
    list.reset();
    EXPECT_EQ(drain(list), (Strings {"b", "c"}));

    // Backwards.
    list.setLast();
    Strings back;
    while (list.hasPrevElements())
        back.push_back(list.prevValue());
    EXPECT_EQ(back, (Strings {"c", "b", "a"}));

    StringList empty;
    EXPECT_FALSE(empty.hasMoreElements());
    EXPECT_THROW(empty.nextValue(), WException);
}

TEST(LinkedList, AssignmentCopiesAllValues)
{
    StringList source = listOf({"1", "2", "3", "4"});
    source.nextValue();
    source.nextValue(); // cursor on the third
    StringList copy;
    copy.add("x");
    copy = source;
    EXPECT_EQ(drain(copy), (Strings {"1", "2", "3", "4"}));
    EXPECT_STREQ(source.nextValue(), "3");
    StringList constructed(source);
    EXPECT_EQ(drain(constructed), (Strings {"1", "2", "3", "4"}));
}

TEST(LinkedList, RemoveEntriesMovesCursorAndMark)
{
    StringList list = listOf({"a", "b", "c"});
    list.remove(2);
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(drain(list), (Strings {"c"}));
    list.remove(5);
    EXPECT_EQ(list.size(), 0u);
    EXPECT_FALSE(list.hasMoreElements());
    list.remove(0);

    StringList other = listOf({"a", "b", "c", "d"});
    other.nextValue();
    other.mark(); // on "b"
    other.remove(2);
    EXPECT_EQ(drain(other), (Strings {"c", "d"}));
    other.reset();
    EXPECT_STREQ(other.nextValue(), "c");

    StringList byEntry;
    byEntry.add("a");
    StringList::WEntry* middle = byEntry.add("b");
    StringList::WEntry* tail = byEntry.add("c");
    byEntry.nextValue(); // cursor on "b"
    byEntry.remove(middle);
    EXPECT_STREQ(byEntry.nextValue(), "c");
    byEntry.remove(tail);
    byEntry.add("d");
    // The pass had ended before "d" came; the next one sees everything.
    EXPECT_FALSE(byEntry.hasMoreElements());
    EXPECT_EQ(drain(byEntry), (Strings {"a", "d"}));
}

namespace {
struct Ascending : WSorter<WString> {
    int compare(const WString& earlier, const WString& later) override { return later.compare(earlier); }
};
} // namespace

TEST(LinkedList, SortSwapsNeighbours)
{
    StringList list = listOf({"d", "b", "a", "c", "b"});
    Ascending order;
    list.sort(order);
    EXPECT_EQ(drain(list), (Strings {"a", "b", "b", "c", "d"}));
    StringList empty;
    empty.sort(order);
    EXPECT_EQ(empty.size(), 0u);
}

TEST(Tokenizer, Table)
{
    struct Case {
        const char* text;
        const char* delimiter;
        bool trim;
        Strings tokens;
    } cases[] = {
        {"a.b.c", ".", false, {"a", "b", "c"}},
        {"a..b", ".", false, {"a", "", "b"}},
        {"a.", ".", false, {"a", ""}},
        {".a", ".", false, {"", "a"}},
        {"abc", ".", false, {}},
        {"", ".", false, {}},
        {" x ; y ", ";", true, {"x", "y"}},
        {" x ; y ", ";", false, {" x ", " y "}},
        {"1::2", "::", false, {"1", "2"}},
        {"aab", "ab", false, {"a", ""}},
        {"a.b", "", false, {}},
    };
    for (const Case& c : cases) {
        WStringTokenizer tokens(c.text, c.delimiter, c.trim);
        EXPECT_EQ(tokens.size(), c.tokens.size()) << c.text;
        EXPECT_EQ(drain(tokens), c.tokens) << c.text;
    }
}

TEST(Tokenizer, ParseReplacesContent)
{
    WStringTokenizer tokens("a,b,c", ",", false);
    EXPECT_EQ(tokens.parse("x;y", ";", false), 2u);
    EXPECT_EQ(drain(tokens), (Strings {"x", "y"}));
    WStringTokenizer copy(tokens);
    EXPECT_EQ(drain(copy), (Strings {"x", "y"}));
}
