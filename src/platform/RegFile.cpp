#include "platform/RegFile.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>
#include <vector>

namespace velmora {

namespace {

std::string FormatError(const std::string& sourceName, int line, const std::string& message) {
    if (line <= 0) return (sourceName.empty() ? std::string("<reg>") : sourceName) + ": " + message;
    if (sourceName.empty()) return "line " + std::to_string(line) + ": " + message;
    return sourceName + ":" + std::to_string(line) + ": " + message;
}

// ---------------------------------------------------------------------------
// Decoding the file into lines of UTF-16 text.

struct TextLine {
    int number;
    std::u16string text;
};

constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t FromWindows1252(std::uint8_t byte) {
    if (byte >= 0x80 && byte < 0xA0) return kWindows1252High[byte - 0x80];
    return static_cast<char16_t>(byte);
}

std::u16string DecodeWindows1252(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) out.push_back(FromWindows1252(static_cast<std::uint8_t>(c)));
    return out;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool DecodeUtf8(const std::string& bytes, std::u16string& out) {
    out.clear();
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<std::uint8_t>(bytes[i]);
        std::uint32_t cp;
        std::size_t extra;
        std::uint32_t min;
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        } else if ((b0 & 0xE0) == 0xC0) {
            cp = b0 & 0x1F;
            extra = 1;
            min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            cp = b0 & 0x0F;
            extra = 2;
            min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            cp = b0 & 0x07;
            extra = 3;
            min = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto b = static_cast<std::uint8_t>(bytes[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return true;
}

// Splits at CR LF, LF or a lone CR, as regedit does.
template <typename String>
std::vector<String> SplitLines(const String& text) {
    std::vector<String> lines;
    String current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(current));
            current.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) lines.push_back(std::move(current));
    return lines;
}

template <typename String>
bool IsBlank(const String& line) {
    for (auto c : line)
        if (c != ' ' && c != '\t') return false;
    return true;
}

enum class Version { Regedit4, Version5 };

const char kHeader4[] = "REGEDIT4";
const char kHeader5[] = "Windows Registry Editor Version 5.00";

// The header may be indented but must otherwise match exactly.
template <typename String>
bool MatchHeader(const String& line, Version& version) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    auto matches = [&](const char* header) {
        const std::size_t n = std::char_traits<char>::length(header);
        if (line.size() - i != n) return false;
        for (std::size_t k = 0; k < n; ++k)
            if (line[i + k] != static_cast<unsigned char>(header[k])) return false;
        return true;
    };
    if (matches(kHeader4)) {
        version = Version::Regedit4;
        return true;
    }
    if (matches(kHeader5)) {
        version = Version::Version5;
        return true;
    }
    return false;
}

struct DecodedFile {
    Version version = Version::Version5;
    std::vector<TextLine> lines;  // the lines after the header
};

class Decoder {
public:
    Decoder(const std::string& bytes, const std::string& sourceName)
        : bytes_(bytes), source_(sourceName) {}

    DecodedFile Decode() {
        if (bytes_.size() >= 2 && static_cast<std::uint8_t>(bytes_[0]) == 0xFF &&
            static_cast<std::uint8_t>(bytes_[1]) == 0xFE)
            return DecodeUtf16();
        const bool utf8Bom = bytes_.size() >= 3 && static_cast<std::uint8_t>(bytes_[0]) == 0xEF &&
                             static_cast<std::uint8_t>(bytes_[1]) == 0xBB &&
                             static_cast<std::uint8_t>(bytes_[2]) == 0xBF;
        return DecodeEightBit(utf8Bom);
    }

private:
    [[noreturn]] void Fail(int line, const std::string& message) const {
        throw RegFileError(source_, line, message);
    }

    template <typename String>
    std::size_t FindHeader(const std::vector<String>& lines, Version& version) const {
        std::size_t index = 0;
        while (index < lines.size() && IsBlank(lines[index])) ++index;
        const int lineNumber = static_cast<int>(index < lines.size() ? index + 1 : 1);
        if (index == lines.size() || !MatchHeader(lines[index], version))
            Fail(lineNumber,
                 "expected the header \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
        return index;
    }

    // regedit reads lines as C strings, where a NUL would end the line early;
    // refuse it rather than guess.
    void Add(DecodedFile& file, int number, std::u16string text) const {
        if (text.find(u'\0') != std::u16string::npos) Fail(number, "unexpected NUL character");
        file.lines.push_back(TextLine{number, std::move(text)});
    }

    DecodedFile DecodeUtf16() const {
        const std::size_t payload = bytes_.size() - 2;
        std::u16string text;
        text.reserve(payload / 2);
        for (std::size_t i = 2; i + 1 < bytes_.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes_[i]) |
                                                 (static_cast<std::uint8_t>(bytes_[i + 1]) << 8)));
        std::vector<std::u16string> lines = SplitLines(text);
        if (payload % 2 != 0)
            Fail(static_cast<int>(lines.empty() ? 1 : lines.size()),
                 "the file ends in the middle of a UTF-16 character");
        DecodedFile file;
        const std::size_t header = FindHeader(lines, file.version);
        for (std::size_t i = header + 1; i < lines.size(); ++i)
            Add(file, static_cast<int>(i + 1), std::move(lines[i]));
        return file;
    }

    DecodedFile DecodeEightBit(bool utf8Bom) const {
        std::vector<std::string> lines = SplitLines(bytes_.substr(utf8Bom ? 3 : 0));
        DecodedFile file;
        const std::size_t header = FindHeader(lines, file.version);
        // Without a byte order mark, REGEDIT4 files are ANSI and version 5 files UTF-8.
        const bool utf8 = utf8Bom || file.version == Version::Version5;
        for (std::size_t i = header + 1; i < lines.size(); ++i) {
            const int number = static_cast<int>(i + 1);
            std::u16string text;
            if (!utf8)
                text = DecodeWindows1252(lines[i]);
            else if (!DecodeUtf8(lines[i], text))
                Fail(number, "invalid UTF-8");
            Add(file, number, std::move(text));
        }
        return file;
    }

    const std::string& bytes_;
    const std::string& source_;
};

// ---------------------------------------------------------------------------
// Parsing the lines into operations.

struct Operation {
    enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind;
    RegKey root;
    std::u16string path;
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

bool IsHexDigit(char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(char16_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

bool IsBlankChar(char16_t c) { return c == ' ' || c == '\t'; }

std::string Narrow(const std::u16string& text) {
    // For error messages only: ASCII kept, everything else shown as '?'.
    std::string out;
    for (char16_t c : text) out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    return out;
}

void AppendUtf16(std::vector<std::uint8_t>& data, char16_t c) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
}

bool StartsWith(const std::u16string& text, std::size_t pos, const char* prefix) {
    const std::size_t n = std::char_traits<char>::length(prefix);
    if (text.size() - pos < n) return false;
    for (std::size_t k = 0; k < n; ++k)
        if (text[pos + k] != static_cast<unsigned char>(prefix[k])) return false;
    return true;
}

class Parser {
public:
    Parser(const DecodedFile& file, const std::string& sourceName)
        : file_(file), source_(sourceName) {}

    std::vector<Operation> Parse() {
        const auto& lines = file_.lines;
        for (index_ = 0; index_ < lines.size(); ++index_) {
            const std::u16string& text = lines[index_].text;
            line_ = lines[index_].number;
            std::size_t pos = SkipBlanks(text, 0);
            if (pos == text.size() || text[pos] == ';') continue;
            if (text[pos] == '[')
                ParseKeyLine(text, pos + 1);
            else if (text[pos] == '@' || text[pos] == '"')
                ParseValueLine(text, pos);
            else
                Fail("expected a [key] line, a value or a ; comment");
        }
        return std::move(ops_);
    }

private:
    [[noreturn]] void Fail(const std::string& message) const {
        throw RegFileError(source_, line_, message);
    }

    static std::size_t SkipBlanks(const std::u16string& text, std::size_t pos) {
        while (pos < text.size() && IsBlankChar(text[pos])) ++pos;
        return pos;
    }

    // After a value or key: only blanks and an optional comment may follow.
    void ExpectLineEnd(const std::u16string& text, std::size_t pos, const char* what) const {
        pos = SkipBlanks(text, pos);
        if (pos != text.size() && text[pos] != ';') Fail(std::string("unexpected text after ") + what);
    }

    void ParseKeyLine(const std::u16string& text, std::size_t pos) {
        if (pos < text.size() && IsBlankChar(text[pos])) Fail("blank after '[' in a key line");
        // Key names may contain ']', so the name runs to the last one.
        const std::size_t close = text.rfind(u']');
        if (close == std::u16string::npos || close < pos) Fail("missing ']' at the end of the key line");
        ExpectLineEnd(text, close + 1, "']'");

        std::u16string name = text.substr(pos, close - pos);
        const bool remove = !name.empty() && name[0] == '-';
        if (remove) name.erase(0, 1);

        RegKey root;
        std::u16string path;
        SplitKeyName(name, root, path);
        if (remove) {
            if (path.empty()) Fail("a root key cannot be deleted");
            ops_.push_back(Operation{Operation::Kind::DeleteKey, root, path, {}, 0, {}});
            haveKey_ = false;
        } else {
            ops_.push_back(Operation{Operation::Kind::CreateKey, root, path, {}, 0, {}});
            haveKey_ = true;
            keyRoot_ = root;
            keyPath_ = path;
        }
    }

    void SplitKeyName(const std::u16string& name, RegKey& root, std::u16string& path) const {
        const std::size_t slash = name.find(u'\\');
        const std::u16string rootName = RegistryUpcase(name.substr(0, slash));
        static const struct {
            const char16_t* name;
            RegKey key;
        } kRoots[] = {
            {u"HKEY_LOCAL_MACHINE", kHKeyLocalMachine}, {u"HKLM", kHKeyLocalMachine},
            {u"HKEY_CURRENT_USER", kHKeyCurrentUser},   {u"HKCU", kHKeyCurrentUser},
            {u"HKEY_CLASSES_ROOT", kHKeyClassesRoot},   {u"HKCR", kHKeyClassesRoot},
            {u"HKEY_USERS", kHKeyUsers},                {u"HKU", kHKeyUsers},
        };
        bool found = false;
        for (const auto& r : kRoots) {
            if (rootName == r.name) {
                root = r.key;
                found = true;
                break;
            }
        }
        if (!found) Fail("unknown root key '" + Narrow(name.substr(0, slash)) + "'");

        path.clear();
        if (slash == std::u16string::npos) return;
        if (slash + 1 < name.size() && name[slash + 1] == '\\')
            Fail("empty key name after the root key");
        // Repeated and trailing backslashes separate nothing; the registry skips them.
        std::size_t start = slash + 1;
        while (start < name.size()) {
            std::size_t end = name.find(u'\\', start);
            if (end == std::u16string::npos) end = name.size();
            if (end - start > 255) Fail("key name longer than 255 characters");
            if (end > start) {
                if (!path.empty()) path.push_back(u'\\');
                path.append(name, start, end - start);
            }
            start = end + 1;
        }
    }

    // Reads a quoted string starting after its opening quote; returns the
    // position after the closing quote.
    std::size_t ParseQuoted(const std::u16string& text, std::size_t pos, std::u16string& out) const {
        out.clear();
        while (pos < text.size()) {
            const char16_t c = text[pos++];
            if (c == '"') return pos;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (pos == text.size()) break;
            const char16_t e = text[pos++];
            switch (e) {
                case 'n': out.push_back(u'\n'); break;
                case 'r': out.push_back(u'\r'); break;
                case '0': Fail("the escape \\0 is not allowed");
                // \\ and \" stand for themselves, and so does any other
                // escaped character.
                default: out.push_back(e); break;
            }
        }
        Fail("missing closing '\"'");
    }

    void ParseValueLine(const std::u16string& text, std::size_t pos) {
        if (!haveKey_) Fail("value outside a key section");
        std::u16string name;
        if (text[pos] == '@')
            ++pos;
        else
            pos = ParseQuoted(text, pos + 1, name);

        pos = SkipBlanks(text, pos);
        if (pos == text.size() || text[pos] != '=') Fail("expected '=' after value name");
        pos = SkipBlanks(text, pos + 1);

        Operation op{Operation::Kind::SetValue, keyRoot_, keyPath_, name, 0, {}};
        if (pos < text.size() && text[pos] == '-') {
            ExpectLineEnd(text, pos + 1, "'-'");
            op.kind = Operation::Kind::DeleteValue;
            ops_.push_back(std::move(op));
        } else if (pos < text.size() && text[pos] == '"') {
            std::u16string value;
            pos = ParseQuoted(text, pos + 1, value);
            ExpectLineEnd(text, pos, "the closing '\"'");
            op.type = kRegSz;
            for (char16_t c : value) AppendUtf16(op.data, c);
            AppendUtf16(op.data, u'\0');
            ops_.push_back(std::move(op));
        } else if (StartsWith(text, pos, "dword:")) {
            op.type = kRegDword;
            op.data = ParseDword(text, pos + 6);
            ops_.push_back(std::move(op));
        } else if (StartsWith(text, pos, "hex:")) {
            op.type = kRegBinary;
            ParseHexValue(text, pos + 4, op);
        } else if (StartsWith(text, pos, "hex(")) {
            pos += 4;
            std::uint64_t type = 0;
            const std::size_t digits = pos;
            while (pos < text.size() && IsHexDigit(text[pos])) {
                type = type * 16 + HexValue(text[pos++]);
                if (type > 0xFFFFFFFFu) Fail("value type in hex(...) is larger than 32 bits");
            }
            if (pos == digits || !StartsWith(text, pos, "):"))
                Fail("expected hex(N): with N a hexadecimal type number");
            op.type = static_cast<std::uint32_t>(type);
            ParseHexValue(text, pos + 2, op);
        } else {
            Fail("unknown value type; expected \"string\", dword:, hex: or hex(N):");
        }
    }

    std::vector<std::uint8_t> ParseDword(const std::u16string& text, std::size_t pos) const {
        pos = SkipBlanks(text, pos);
        std::uint32_t value = 0;
        std::size_t count = 0;
        while (pos < text.size() && IsHexDigit(text[pos])) {
            if (++count > 8) Fail("dword value has more than 8 hex digits");
            value = value * 16 + HexValue(text[pos++]);
        }
        if (count == 0) Fail("dword value needs 1 to 8 hex digits");
        ExpectLineEnd(text, pos, "the dword value");
        std::vector<std::uint8_t> data(4);
        for (std::size_t i = 0; i < 4; ++i) data[i] = static_cast<std::uint8_t>(value >> (8 * i));
        return data;
    }

    // Parses comma-separated bytes from `pos`; returns true when the line ends
    // with a backslash that continues the data on the next line.
    bool ParseHexBytes(const std::u16string& text, std::size_t pos,
                       std::vector<std::uint8_t>& data) const {
        // Each pass starts at the beginning of the data or just after a comma,
        // the only places a continuation backslash may stand.
        for (;;) {
            pos = SkipBlanks(text, pos);
            if (pos == text.size() || text[pos] == ';') return false;
            if (text[pos] == '\\') {
                ExpectLineEnd(text, pos + 1, "the continuation '\\'");
                return true;
            }
            if (!IsHexDigit(text[pos])) Fail("bad hex byte");
            unsigned byte = HexValue(text[pos++]);
            if (pos < text.size() && IsHexDigit(text[pos])) byte = byte * 16 + HexValue(text[pos++]);
            if (pos < text.size() && IsHexDigit(text[pos])) Fail("bad hex byte (more than 2 digits)");
            data.push_back(static_cast<std::uint8_t>(byte));
            if (pos < text.size() && text[pos] == ',') {
                ++pos;
                continue;
            }
            pos = SkipBlanks(text, pos);
            if (pos < text.size() && text[pos] == '\\')
                Fail("expected ',' before the continuation '\\'");
            ExpectLineEnd(text, pos, "a hex byte; expected ','");
            return false;
        }
    }

    void ParseHexValue(const std::u16string& text, std::size_t pos, Operation& op) {
        bool more = ParseHexBytes(text, pos, op.data);
        // Continuation lines: blank and comment lines among them are skipped;
        // the end of the file ends the value.
        while (more && index_ + 1 < file_.lines.size()) {
            ++index_;
            const std::u16string& next = file_.lines[index_].text;
            line_ = file_.lines[index_].number;
            const std::size_t start = SkipBlanks(next, 0);
            if (start == next.size() || next[start] == ';') continue;
            if (!IsHexDigit(next[start])) Fail("expected hex bytes continuing the value");
            more = ParseHexBytes(next, start, op.data);
        }
        if (file_.version == Version::Regedit4 &&
            (op.type == kRegSz || op.type == kRegExpandSz || op.type == kRegMultiSz))
            op.data = WidenAnsi(op.data);
        ops_.push_back(std::move(op));
    }

    // REGEDIT4 writes string data as ANSI bytes; each becomes one UTF-16 unit.
    static std::vector<std::uint8_t> WidenAnsi(const std::vector<std::uint8_t>& bytes) {
        std::vector<std::uint8_t> wide;
        wide.reserve(bytes.size() * 2);
        for (std::uint8_t b : bytes) AppendUtf16(wide, FromWindows1252(b));
        return wide;
    }

    const DecodedFile& file_;
    const std::string& source_;
    std::vector<Operation> ops_;
    std::size_t index_ = 0;
    int line_ = 0;
    bool haveKey_ = false;
    RegKey keyRoot_ = 0;
    std::u16string keyPath_;
};

}  // namespace

RegFileError::RegFileError(const std::string& sourceName, int line, const std::string& message)
    : std::runtime_error(FormatError(sourceName, line, message)), line_(line) {}

void LoadRegFile(MemoryRegistry& reg, const std::string& bytes, const std::string& sourceName) {
    const DecodedFile file = Decoder(bytes, sourceName).Decode();
    const std::vector<Operation> ops = Parser(file, sourceName).Parse();
    for (const Operation& op : ops) {
        switch (op.kind) {
            case Operation::Kind::CreateKey: reg.CreateKey(op.root, op.path); break;
            case Operation::Kind::DeleteKey: reg.DeleteKey(op.root, op.path); break;
            case Operation::Kind::SetValue:
                reg.SetValue(op.root, op.path, op.name, op.type, op.data);
                break;
            case Operation::Kind::DeleteValue: reg.DeleteValue(op.root, op.path, op.name); break;
        }
    }
}

void LoadRegFileFromPath(MemoryRegistry& reg, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw RegFileError(path, 0, "cannot open the file");
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) throw RegFileError(path, 0, "cannot read the file");
    LoadRegFile(reg, content.str(), path);
}

}  // namespace velmora
