#include "platform/RegFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace velmora;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A file as regedit writes version 5: UTF-16LE with a byte order mark, CR LF.
std::string Utf16File(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        if (c == u'\n') {
            out.push_back('\r');
            out.push_back('\0');
        }
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

Bytes Wide(const std::u16string& text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

// The value's type and bytes, or type 0xDEAD if it is missing.
std::pair<std::uint32_t, Bytes> Get(const MemoryRegistry& reg, RegKey root,
                                    const std::u16string& path, const std::u16string& name) {
    auto v = reg.GetValue(root, path, name);
    if (!v) return {0xDEAD, {}};
    return {v->type, v->data};
}

const char kV5[] = "Windows Registry Editor Version 5.00\r\n\r\n";

}  // namespace

TEST(RegFileFormats, Utf8WithAndWithoutBom) {
    const std::string body =
        "Windows Registry Editor Version 5.00\n"
        "[HKCU\\K]\n"
        "\"s\"=\"\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E\"\n"  // U+00E9 U+20AC U+1D11E
        "\"e\"=hex(2):41,00,00,00\n";
    for (const std::string& file : {body, "\xEF\xBB\xBF" + body}) {
        MemoryRegistry reg;
        LoadRegFile(reg, file);
        EXPECT_EQ(Get(reg, kHKeyCurrentUser, u"K", u"s").second,
                  Wide(std::u16string(u"\u00e9\u20ac\U0001D11E\0", 5)));
        // Version 5 hex strings are already UTF-16: not widened again.
        EXPECT_EQ(Get(reg, kHKeyCurrentUser, u"K", u"e"),
                  std::make_pair(kRegExpandSz, Bytes{0x41, 0, 0, 0}));
    }
}

TEST(RegFileStrings, EscapesAsWineReadsThem) {
    MemoryRegistry reg;
    LoadRegFile(reg, std::string(kV5) +
                         "[HKLM\\K]\n"
                         "\"a\\\\b\\\"c\"=\"x\\\\y\\\"z\"\n"
                         "\"nl\"=\"1\\n2\\r3\"\n"
                         "\"other\"=\"\\t\\q\"\n"
                         "\"semi\"=\"a;b\" ; trailing comment\n"
                         "  \"spaced\"  =  \"v\"  \n"
                         "\"\"=\"empty name is the default\"\n");
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"a\\b\"c").second,
              Wide(std::u16string(u"x\\y\"z\0", 6)));
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"nl").second,
              Wide(std::u16string(u"1\n2\r3\0", 6)));
    // Unknown escapes keep the character and drop the backslash.
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"other").second, Wide(std::u16string(u"tq\0", 3)));
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"semi").second, Wide(std::u16string(u"a;b\0", 4)));
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"spaced").second, Wide(std::u16string(u"v\0", 2)));
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"").first, kRegSz);
}

TEST(RegFileHex, AnyTypeAnySize) {
    MemoryRegistry reg;
    LoadRegFile(reg, std::string(kV5) +
                         "[HKLM\\K]\n"
                         "\"none\"=hex(0):01\n"
                         "\"qword\"=hex(b):01,02,03,04,05,06,07,08\n"
                         "\"odd\"=hex(2):41,00,42\n"
                         "\"unterminated\"=hex(1):41,00,42,00\n"
                         "\"empty\"=hex(1):\n"
                         "\"emptybin\"=hex:\n"
                         "\"max\"=hex(ffffffff):1\n"
                         "\"padded\"=hex(00000007):00,00\n"
                         "\"upper\"=hex(A):AB,cD\n"
                         "\"trailing comma\"=hex:01,02,\n"
                         "\"blank after comma\"=hex:01, 02 ;c\n");
    const auto get = [&](const char16_t* n) { return Get(reg, kHKeyLocalMachine, u"K", n); };
    EXPECT_EQ(get(u"none"), std::make_pair(kRegNone, Bytes{1}));
    EXPECT_EQ(get(u"qword"), std::make_pair(kRegQword, Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(get(u"odd"), std::make_pair(kRegExpandSz, Bytes{0x41, 0, 0x42}));
    EXPECT_EQ(get(u"unterminated"), std::make_pair(kRegSz, Bytes{0x41, 0, 0x42, 0}));
    EXPECT_EQ(get(u"empty"), std::make_pair(kRegSz, Bytes{}));
    EXPECT_EQ(get(u"emptybin"), std::make_pair(kRegBinary, Bytes{}));
    EXPECT_EQ(get(u"max"), std::make_pair(0xFFFFFFFFu, Bytes{1}));
    EXPECT_EQ(get(u"padded"), std::make_pair(kRegMultiSz, Bytes{0, 0}));
    EXPECT_EQ(get(u"upper"), std::make_pair(10u, Bytes{0xAB, 0xCD}));
    EXPECT_EQ(get(u"trailing comma").second, (Bytes{1, 2}));
    EXPECT_EQ(get(u"blank after comma").second, (Bytes{1, 2}));
}

TEST(RegFileHex, ContinuationLines) {
    MemoryRegistry reg;
    LoadRegFile(reg, std::string(kV5) +
                         "[HKLM\\K]\n"
                         "\"long\"=hex(7):41,00,42,\\\n"
                         "  00,43,\\ ; comment after the backslash\n"
                         "\n"
                         "; a comment line inside the data\n"
                         "\t00,00,00\n"
                         "\"start\"=hex:\\\n"
                         "  05\n"
                         "\"after\"=dword:1\n"
                         "\"last\"=hex:01,\\\n");
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"long").second,
              (Bytes{0x41, 0, 0x42, 0, 0x43, 0, 0, 0}));
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"start").second, Bytes{5});
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"after").first, kRegDword);
    EXPECT_EQ(Get(reg, kHKeyLocalMachine, u"K", u"last").second, Bytes{1});  // end of file ends it
}

TEST(RegFileDeletion, KeysAndValues) {
    MemoryRegistry reg;
    reg.SetDword(kHKeyLocalMachine, u"App\\Sub\\Deep", u"v", 1);
    reg.SetDword(kHKeyLocalMachine, u"Keep", u"a", 1);
    reg.SetDword(kHKeyLocalMachine, u"Keep", u"b", 2);
    LoadRegFile(reg, std::string(kV5) +
                         "[-HKEY_LOCAL_MACHINE\\app\\sub]\n"
                         "[-HKLM\\NotThere]\n"
                         "[HKLM\\Keep]\n"
                         "\"A\"=-\n"
                         "\"missing\" = - ; fine\n");
    EXPECT_TRUE(reg.KeyExists(kHKeyLocalMachine, u"App"));
    EXPECT_FALSE(reg.KeyExists(kHKeyLocalMachine, u"App\\Sub"));
    EXPECT_FALSE(reg.GetValue(kHKeyLocalMachine, u"Keep", u"a").has_value());
    EXPECT_TRUE(reg.GetValue(kHKeyLocalMachine, u"Keep", u"b").has_value());

    // Later lines see earlier ones: delete then re-create.
    LoadRegFile(reg, std::string(kV5) + "[HKLM\\Keep]\n\"b\"=-\n\"b\"=dword:3\n[-HKLM\\Keep]\n"
                                        "[HKLM\\Keep\\New]\n");
    EXPECT_FALSE(reg.GetValue(kHKeyLocalMachine, u"Keep", u"b").has_value());
    EXPECT_TRUE(reg.KeyExists(kHKeyLocalMachine, u"Keep\\New"));
}

TEST(RegFileErrors, RefusedWithTheLineAndNothingApplied) {
    struct Case {
        std::string body;  // follows the header (line 1) and a blank line (line 2)
        int line;
        const char* message;
    };
    const std::string longName(256, 'n');
    const Case cases[] = {
        {"\"v\"=\"x\"\n", 3, "value outside a key section"},
        {"[HKLM\\K]\n[-HKLM\\K]\n\"v\"=\"x\"\n", 5, "outside a key section"},
        {"[HKLM\\K]\n\"v\"\"x\"\n", 4, "expected '=' after value name"},
        {"[HKLM\\K]\n@\n", 4, "expected '='"},
        {"[HKLM\\K]\n\"v=\"x\"\n", 4, "expected '='"},
        {"[HKLM\\K]\n\"v\"=\"x\n", 4, "missing closing"},
        {"[HKLM\\K]\n\"v\"=\"x\\\"\n", 4, "missing closing"},
        {"[HKLM\\K]\n\"v\"=\"a\\0b\"\n", 4, "\\0"},
        {"[HKLM\\K]\n\"v\"=\"x\" y\n", 4, "unexpected text"},
        {"[HKLM\\K]\n\"v\"=- x\n", 4, "unexpected text"},
        {"[HKLM\\K]\n\"v\"=dword:123456789\n", 4, "more than 8"},
        {"[HKLM\\K]\n\"v\"=dword:\n", 4, "1 to 8"},
        {"[HKLM\\K]\n\"v\"=dword:12g\n", 4, "unexpected text"},
        {"[HKLM\\K]\n\"v\"=DWORD:1\n", 4, "unknown value type"},
        {"[HKLM\\K]\n\"v\"=HEX:01\n", 4, "unknown value type"},
        {"[HKLM\\K]\n\"v\"=1\n", 4, "unknown value type"},
        {"[HKLM\\K]\n\"v\"=hex:0g\n", 4, "unexpected text"},
        {"[HKLM\\K]\n\"v\"=hex:100\n", 4, "bad hex byte"},
        {"[HKLM\\K]\n\"v\"=hex:01 ,02\n", 4, "expected ','"},
        {"[HKLM\\K]\n\"v\"=hex:,01\n", 4, "bad hex byte"},
        {"[HKLM\\K]\n\"v\"=hex:01,02\\\n03\n", 4, "before the continuation"},
        {"[HKLM\\K]\n\"v\"=hex:01,\\ x\n02\n", 4, "unexpected text"},
        {"[HKLM\\K]\n\"v\"=hex:01,\\\n\n  zz\n", 6, "continuing the value"},
        {"[HKLM\\K]\n\"v\"=hex:01,\\\n  02,0x3\n", 5, "unexpected text"},
        {"[HKLM\\K]\n\"v\"=hex():01\n", 4, "hex(N)"},
        {"[HKLM\\K]\n\"v\"=hex(0x2):01\n", 4, "hex(N)"},
        {"[HKLM\\K]\n\"v\"=hex(2:01\n", 4, "hex(N)"},
        {"[HKLM\\K]\n\"v\"=hex(100000000):01\n", 4, "32 bits"},
        {"[HKLM\\K]\ngarbage\n", 4, "expected a [key] line"},
        {"[HKEY_CURRENT_CONFIG\\K]\n", 3, "unknown root key 'HKEY_CURRENT_CONFIG'"},
        {"[HKLM\\K\n", 3, "missing ']'"},
        {"[HKLM\\K] junk\n", 3, "unexpected text after ']'"},
        {"[ HKLM\\K]\n", 3, "blank after '['"},
        {"[HKLM\\\\K]\n", 3, "empty key name"},
        {"[-HKLM]\n", 3, "root key cannot be deleted"},
        {"[HKLM\\" + longName + "]\n", 3, "longer than 255"},
        {"[HKLM\\K]\n\"v\"=\"ok\"\n[HKLM\\K2]\n\"w\"=hex:zz\n", 6, "bad hex byte"},
    };
    for (const Case& c : cases) {
        MemoryRegistry reg;
        reg.SetDword(kHKeyLocalMachine, u"K", u"v", 42);
        const std::string file = "Windows Registry Editor Version 5.00\n\n" + c.body;
        try {
            LoadRegFile(reg, file, "broken.reg");
            ADD_FAILURE() << "accepted:\n" << c.body;
            continue;
        } catch (const RegFileError& e) {
            EXPECT_EQ(e.Line(), c.line) << c.body << e.what();
            const std::string what = e.what();
            EXPECT_EQ(what.rfind("broken.reg:" + std::to_string(c.line) + ": ", 0), 0u) << what;
            EXPECT_NE(what.find(c.message), std::string::npos) << what;
        }
        // All or nothing: earlier good lines were not applied either.
        EXPECT_EQ(reg.Values(kHKeyLocalMachine, u"K").size(), 1u) << c.body;
        EXPECT_EQ(reg.GetValue(kHKeyLocalMachine, u"K", u"v")->data, (Bytes{42, 0, 0, 0}));
        EXPECT_TRUE(reg.SubKeyNames(kHKeyLocalMachine, u"K").empty());
        EXPECT_EQ(reg.SubKeyNames(kHKeyLocalMachine, u""), std::vector<std::u16string>{u"K"});
    }
}

TEST(RegFileErrors, BadEncodingIsRefusedWithItsLine) {
    MemoryRegistry reg;
    const auto lineOf = [&](const std::string& file) {
        try {
            LoadRegFile(reg, file);
        } catch (const RegFileError& e) {
            return e.Line();
        }
        return -1;
    };
    EXPECT_EQ(lineOf(std::string(kV5) + "[HKLM\\K]\n\"v\"=\"\xC3\"\n"), 4);        // truncated
    EXPECT_EQ(lineOf(std::string(kV5) + "[HKLM\\\xC0\xAF]\n"), 3);                 // overlong
    EXPECT_EQ(lineOf(std::string(kV5) + "[HKLM\\K]\n\"v\"=\"\xED\xA0\x80\"\n"), 4);  // surrogate
    EXPECT_EQ(lineOf(std::string(kV5) + "[HKLM\\K]\n" + std::string("\"v\"=\"a\0b\"\n", 10)), 4);
    EXPECT_EQ(lineOf(std::string(kV5) + "[HKLM\\K]\n\"v\"=hex:01,\\\n" + std::string("02\0\n", 4)),
              5);
    EXPECT_EQ(lineOf(Utf16File(u"Windows Registry Editor Version 5.00\n[HKLM\\K]\n") + "A"), 2);
    EXPECT_FALSE(reg.KeyExists(kHKeyLocalMachine, u"K"));
    // An ANSI file has no invalid bytes.
    EXPECT_EQ(lineOf("REGEDIT4\n[HKLM\\K\x81\xFF]\n"), -1);
    EXPECT_TRUE(reg.KeyExists(kHKeyLocalMachine, u"K\u0081\u00ff"));
}
