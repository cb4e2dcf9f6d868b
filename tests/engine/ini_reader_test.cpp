#include "tarvik/engine/ini_reader.h"

#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class IniReader : public ::testing::Test {
protected:
    std::string write(const std::string& text, const std::string& base = "test.ini") {
        const std::string name = dir.file(base);
        write_text(name, text);
        return name;
    }
    TempDir dir;
};

const char* kSpinpad =
    "# readers with a PIN pad\n"
    "[reader0]\n"
    "name=ACME PinPad\n"
    "lib = libacme.so\n"
    "\n"
    "[ reader1 ]\n"
    "  ; a comment\n"
    "NAME=Other\n"
    "[reader10]\n"
    "name=Ten\n";

TEST_F(IniReader, ValuesOfOneSectionKeysWithoutRegardToCase) {
    const std::string file = write(kSpinpad);
    char name[256] = "", lib[256] = "";
    const IniRequest requests[] = {{"NAME", "%s", name, sizeof name, 0}, {"lib", "%s", lib, sizeof lib, 0}};
    EXPECT_EQ(ini_get_values(file.c_str(), "reader0", requests), 2);
    EXPECT_STREQ(name, "ACME PinPad");
    EXPECT_STREQ(lib, " libacme.so");  // the value keeps its leading blank
    EXPECT_STREQ(ini_last_error(), "");

    // Blanks around the section name; the section ends at the next header.
    EXPECT_EQ(ini_get_values(file.c_str(), "reader1", requests), 1);
    EXPECT_STREQ(name, "Other");
    EXPECT_STREQ(ini_last_error(), "value not found in section [reader1]: lib");

    // Section names compare case-sensitively and over the whole name.
    EXPECT_EQ(ini_get_values(file.c_str(), "Reader0", requests), 0);
    EXPECT_STREQ(ini_last_error(), "section [Reader0] not found");
    EXPECT_EQ(ini_get_values(file.c_str(), "reader10", requests), 1);
    EXPECT_STREQ(name, "Ten");
}

TEST_F(IniReader, MissingKeysAndDuplicatesAreCounted) {
    const std::string file = write("a=1\na=2\n[s]\nb=3\n");
    char a[8] = "", x[8] = "", y[8] = "";
    const IniRequest requests[] = {{"x", "%s", x, sizeof x, 0}, {"a", "%s", a, sizeof a, 0},
                                   {"y", "%s", y, sizeof y, 0}};
    // Without a section the whole file is read; "a" twice counts twice.
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, requests), 2);
    EXPECT_STREQ(a, "2");
    EXPECT_STREQ(ini_last_error(), "values not found: x, y");
    EXPECT_EQ(ini_get_values(dir.file("absent.ini").c_str(), nullptr, requests), -1);
}

TEST_F(IniReader, ConversionsBooleansAndHeapCopies) {
    const std::string file = write("n = 42\nf=2.5\non=TRUE\noff=n\nbad=maybe\ns=heap text\n");
    int n = 0, on = -1, off = -1, bad = -1;
    double f = 0;
    char* s = nullptr;
    const IniRequest requests[] = {{"n", "%d", &n, sizeof n, 0},     {"f", "%lf", &f, sizeof f, 0},
                                   {"on", "%B", &on, sizeof on, 0},  {"off", "%B", &off, sizeof off, 0},
                                   {"s", "%S", &s, sizeof s, 0}};
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, requests), 5);
    EXPECT_EQ(n, 42);
    EXPECT_DOUBLE_EQ(f, 2.5);
    EXPECT_EQ(on, 1);
    EXPECT_EQ(off, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "heap text");
    std::free(s);

    // A key met twice is stored twice; the first heap copy is not leaked.
    const std::string twice = write("s=first\ns=second\n", "twice.ini");
    char other[4] = "";
    const IniRequest copies[] = {{"s", "%S", &s, sizeof s, 0}, {"other", "%s", other, sizeof other, 0}};
    EXPECT_EQ(ini_get_values(twice.c_str(), nullptr, copies), 2);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "second");
    std::free(s);

    const IniRequest boolean[] = {{"bad", "%B", &bad, sizeof bad, 0}};
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, boolean), -1);
    EXPECT_STREQ(ini_last_error(), "unrecognized boolean value 'maybe'");
    EXPECT_EQ(bad, -1);
}

TEST_F(IniReader, DestinationsAreNeverOverrun) {
    const std::string file = write("k=0123456789\n");
    char small[11];
    std::memset(small, 'Z', sizeof small);
    const IniRequest text[] = {{"k", "%s", small, 10, 0}};
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, text), -1);
    EXPECT_EQ(small[0], 'Z');
    const IniRequest fits[] = {{"k", "%s", small, 11, 0}};
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, fits), 1);
    EXPECT_STREQ(small, "0123456789");

    long long wide = 0;
    int narrow = 0;
    const IniRequest too_narrow[] = {{"k", "%lld", &narrow, sizeof narrow, 0}};
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, too_narrow), -1);
    const IniRequest text_scan[] = {{"k", "%5s", small, sizeof small, 0}};
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, text_scan), -1);
    const IniRequest wide_ok[] = {{"k", "%lld", &wide, sizeof wide, 0}};
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, wide_ok), 1);
    EXPECT_EQ(wide, 123456789LL);

    std::vector<IniRequest> many(INI_MAX_REQUESTS + 1, IniRequest{"k", "%s", small, sizeof small, 0});
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, many), -1);
    EXPECT_STREQ(ini_last_error(), "too many arguments");
}

TEST_F(IniReader, ContinuationsAndEscapes) {
    const std::string file = write(
        "joined=one \\\n"
        "   two\\\n"
        "# comment between\n"
        "three\n"
        "kept=end\\ \n"
        "stop=a\\\n"
        "\n"
        "after=b\n"
        "esc=tab\\there \\\"q\\\" back\\\\slash \\x\\\n");
    char joined[64] = "", kept[16] = "", stop[16] = "", after[16] = "", esc[64] = "";
    const IniRequest requests[] = {{"joined", "%s", joined, sizeof joined, 0},
                                   {"kept", "%s", kept, sizeof kept, 0},
                                   {"stop", "%s", stop, sizeof stop, 0},
                                   {"after", "%s", after, sizeof after, 0},
                                   {"esc", "%s", esc, sizeof esc, INI_UNESCAPE}};
    EXPECT_EQ(ini_get_values(file.c_str(), nullptr, requests), 5);
    EXPECT_STREQ(joined, "one twothree");
    EXPECT_STREQ(kept, "end\\");
    EXPECT_STREQ(stop, "a");
    EXPECT_STREQ(after, "b");
    // The trailing backslash continued the line into the end of the file.
    EXPECT_STREQ(esc, "tab\there \"q\" back\\slash \\x");

    char out[8];
    ini_unescape(out, sizeof out, "\\E\\f\\n\\r\\\\");
    EXPECT_STREQ(out, "\x1b\f\n\r\\");
    ini_unescape(out, 4, "abcdef");
    EXPECT_STREQ(out, "abc");
}

TEST_F(IniReader, LinesLongerThanTheBufferAreDroppedWhole) {
    // The tail of an over-long line must not pass for a line of its own:
    // here it would set "lib" beside "name".
    const std::string padding(INI_LINE_MAX - 1 - std::strlen("name="), 'n');
    const std::string file = write("[reader0]\nname=" + padding + "lib=/tmp/evil.so\n" +
                                   "# " + std::string(INI_LINE_MAX, 'c') + "lib=/tmp/evil2.so\n" +
                                   "k=a\\\n" + std::string(INI_LINE_MAX - 3, 'b') + "\\\nlib=/tmp/evil3.so\n" +
                                   "x=" + std::string(INI_LINE_MAX - 3, 'x') + "\n");
    char name[INI_LINE_MAX] = "", lib[INI_LINE_MAX] = "", k[INI_LINE_MAX] = "", x[INI_LINE_MAX] = "";
    const IniRequest requests[] = {{"name", "%s", name, sizeof name, 0},
                                   {"lib", "%s", lib, sizeof lib, 0},
                                   {"k", "%s", k, sizeof k, 0},
                                   {"x", "%s", x, sizeof x, 0}};
    EXPECT_EQ(ini_get_values(file.c_str(), "reader0", requests), 1);
    EXPECT_EQ(std::strlen(name), 0u);
    EXPECT_STREQ(lib, "");
    EXPECT_EQ(std::strlen(k), 0u);
    // A line that just fits is read whole.
    EXPECT_EQ(std::strlen(x), INI_LINE_MAX - 3);

    std::FILE* f = std::fopen(file.c_str(), "r");
    char line[1];
    EXPECT_EQ(fgetll(line, 1, f), nullptr);
    EXPECT_NE(std::string(ini_last_error()).find("fgetll: "), std::string::npos);
    std::fclose(f);
}

TEST_F(IniReader, SectionsLinesAndSplitting) {
    const std::string file = write("top=1\n[ one  ]\nx=1\ny\\n=2\n[broken\n[]\n[two]\n");
    char** list = nullptr;
    const int sections = ini_get_sections(file.c_str(), &list);
    ASSERT_EQ(sections, 2);
    EXPECT_STREQ(list[0], "one");
    EXPECT_STREQ(list[1], "two");
    ini_free_list(list, sections);

    const int lines = ini_get_section_lines(file.c_str(), "one", &list, INI_UNESCAPE);
    ASSERT_EQ(lines, 2);
    EXPECT_STREQ(list[0], "x=1");
    EXPECT_STREQ(list[1], "y\n=2");
    ini_free_list(list, lines);
    const int top = ini_get_section_lines(file.c_str(), nullptr, &list, 0);
    ASSERT_EQ(top, 1);
    EXPECT_STREQ(list[0], "top=1");
    ini_free_list(list, top);
    EXPECT_EQ(ini_get_section_lines(file.c_str(), "three", &list, 0), 0);
    EXPECT_EQ(list, nullptr);

    char *key = nullptr, *value = nullptr;
    ASSERT_EQ(ini_split_line("a key \t= v=w ", &key, &value), 0);
    EXPECT_STREQ(key, "a key");
    EXPECT_STREQ(value, " v=w ");
    std::free(key);
    std::free(value);
    EXPECT_EQ(ini_split_line("no equals", &key, &value), -1);
    EXPECT_STREQ(ini_last_error(), "no '=' found");
    EXPECT_EQ(ini_is_comment("  ;x"), 1);
    EXPECT_EQ(ini_is_comment(" a#"), 0);
}

}  // namespace
