#include "platform/vcl/string_list.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "support/temp_dir.h"

using namespace vcl;

namespace {
std::string Joined(const TStrings& list) {
    std::string out;
    for (int i = 0; i < list.Count(); ++i) out += (i ? "|" : "") + list.Get(i);
    return out;
}
}  // namespace

TEST(string_list, add_insert_delete_and_objects) {
    TStringList list;
    EXPECT_EQ(list.Add("b"), 0);
    list.Insert(0, "a");
    EXPECT_EQ(list.AddObject("c", 42), 2);
    EXPECT_EQ(Joined(list), "a|b|c");
    EXPECT_EQ(list.Objects(2), 42);
    EXPECT_EQ(list.IndexOfObject(42), 2);
    list.Exchange(0, 2);
    EXPECT_EQ(Joined(list), "c|b|a");
    EXPECT_EQ(list.Objects(0), 42);
    list.Delete(1);
    EXPECT_EQ(Joined(list), "c|a");
    EXPECT_EQ(list.IndexOf("A"), 1);  // case-insensitive by default
    list.SetCaseSensitive(true);
    EXPECT_EQ(list.IndexOf("A"), -1);
    try {
        list.Get(2);
        FAIL();
    } catch (const rtl::EListError& e) {
        EXPECT_EQ(e.Message, "List index out of bounds (2)");
    }
    EXPECT_THROW(list.Insert(5, "x"), rtl::EListError);
    EXPECT_THROW(list.Delete(-1), rtl::EListError);
    EXPECT_EQ(Joined(list), "c|a");
}

TEST(string_list, sorted_lists_honour_duplicates_and_cyrillic_case) {
    TStringList list;
    list.SetSorted(true);
    for (const char* s : {"Привет", "beta", "alpha", "Ёж", "ель", "Жук"}) list.Add(rtl::Utf8ToAnsi(s));
    EXPECT_EQ(rtl::AnsiToUtf8(Joined(list)), "alpha|beta|ель|Ёж|Жук|Привет");
    list.SetObjects(0, 5);
    EXPECT_EQ(list.Add("ALPHA"), 0);  // dupIgnore: the existing index
    EXPECT_EQ(list.AddObject("alpha", 9), 0);
    EXPECT_EQ(list.Objects(0), 5);  // and the existing object
    EXPECT_EQ(list.Count(), 6);
    EXPECT_EQ(list.IndexOf(rtl::Utf8ToAnsi("пРИВЕТ")), 5);
    EXPECT_THROW(list.Insert(0, "x"), rtl::EListError);
    EXPECT_THROW(list.Put(0, "x"), rtl::EListError);
    list.Duplicates = TDuplicates::dupError;
    try {
        list.Add("Beta");
        FAIL();
    } catch (const rtl::EStringListError& e) {
        EXPECT_EQ(e.Message, "String list does not allow duplicates");
    }
    list.Duplicates = TDuplicates::dupAccept;
    list.Add("beta");
    list.Add("BETA");
    int index;
    EXPECT_TRUE(list.Find("Beta", index));
    EXPECT_EQ(index, 1);  // the first of the equal ones
    EXPECT_EQ(list.Count(), 8);
}

TEST(string_list, text_and_comma_text) {
    TStringList list;
    list.SetText("one\r\ntwo\nthree\rfour");
    EXPECT_EQ(Joined(list), "one|two|three|four");
    EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
    list.SetText("a\r\n\r\nb\r\n");
    EXPECT_EQ(list.Count(), 3);
    list.SetText(std::string("x\0y", 3));
    EXPECT_EQ(list.Get(0), std::string("x\0y", 3));
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);

    list.SetCommaText("a, \"b c\",\"say \"\"hi\"\"\" d,");
    EXPECT_EQ(Joined(list), "a|b c|say \"hi\"|d|");
    EXPECT_EQ(list.CommaText(), "a,\"b c\",\"say \"\"hi\"\"\",d,");
    TStringList back;
    back.SetCommaText(list.CommaText());
    EXPECT_EQ(Joined(back), Joined(list));
    list.SetCommaText(std::string("\0g", 2));  // a control character separates, never hangs
    EXPECT_EQ(Joined(list), "g");
    list.SetText("\r\n");
    EXPECT_EQ(list.CommaText(), "\"\"");
}

TEST(string_list, names_and_values) {
    TStringList list;
    list.Add("Port=7");
    list.Add("plain");
    list.Add("Path=a=b");
    EXPECT_EQ(list.Names(0), "Port");
    EXPECT_EQ(list.Names(1), "");
    EXPECT_EQ(list.Values("port"), "7");
    EXPECT_EQ(list.Values("path"), "a=b");
    EXPECT_EQ(list.Values("none"), "");
    EXPECT_EQ(list.ValueFromIndex(2), "a=b");
    list.SetValues("Port", "8");
    list.SetValues("New", "1");
    EXPECT_EQ(Joined(list), "Port=8|plain|Path=a=b|New=1");
    list.SetValues("Path", "");
    EXPECT_EQ(Joined(list), "Port=8|plain|New=1");
}

TEST(string_list, change_events_and_files) {
    TStringList list;
    int changes = 0, changing = 0;
    list.OnChange = [&](TStringList* sender) {
        EXPECT_EQ(sender, &list);
        ++changes;
    };
    list.OnChanging = [&](TStringList*) { ++changing; };
    list.Add("a");
    list.Add("b");
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(changing, 2);
    list.BeginUpdate();
    list.Add("c");
    list.Delete(0);
    list.EndUpdate();
    EXPECT_EQ(changes, 3);  // one for the whole update

    test_support::TempDir dir;
    const std::string name = dir.File("list.txt");
    list.Add("\xC0\xFF");
    list.SaveToFile(name);
    std::ifstream in(name, std::ios::binary);
    std::stringstream raw;
    raw << in.rdbuf();
    EXPECT_EQ(raw.str(), "b\r\nc\r\n\xC0\xFF\r\n");  // bytes as they are, CR LF lines
    TStringList loaded;
    loaded.LoadFromFile(name);
    EXPECT_EQ(Joined(loaded), Joined(list));
    EXPECT_THROW(loaded.LoadFromFile(dir.File("missing")), rtl::EFOpenError);
    EXPECT_EQ(loaded.Count(), 3);
}
