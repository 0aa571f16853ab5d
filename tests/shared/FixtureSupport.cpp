#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "FixtureRegistry.h"

namespace velmora::testing {

namespace {

// Printable text as UTF-8; backslashes, control characters, unpaired surrogates
// and blanks at either end escaped, so every field fits on one line.
std::string Escape(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool edgeBlank = c == u' ' && (i == 0 || i + 1 == text.size());
        const bool highSurrogate = c >= 0xD800 && c <= 0xDBFF;
        const bool paired = highSurrogate && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (c == u'\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F || edgeBlank || (c >= 0xD800 && c <= 0xDFFF && !paired)) {
            char code[16];
            std::snprintf(code, sizeof code, "\\u{%04X}", static_cast<unsigned>(c));
            out += code;
        } else if (paired) {
            out += ToUtf8(text.substr(i, 2));
            ++i;
        } else {
            out += ToUtf8(std::u16string(1, c));
        }
    }
    return out;
}

}  // namespace

std::string DescribeInventory(const TOrvUninstallList& entries, const std::string& error) {
    std::string out;
    for (std::size_t i = 0; i < entries.Count(); ++i) {
        const TOrvUninstallInfo& e = *entries[i];
        out += "entry\n";
        out += "  Comments=" + Escape(e.Comments) + "\n";
        out += "  DisplayIcon=" + Escape(e.DisplayIcon) + "\n";
        out += "  DisplayName=" + Escape(e.DisplayName) + "\n";
        out += "  Publisher=" + Escape(e.Publisher) + "\n";
        out += "  KeyName=" + Escape(e.KeyName) + "\n";
        out += "  UninstallString=" + Escape(e.UninstallString) + "\n";
    }
    if (!error.empty()) out += "error=" + error + "\n";
    return out;
}

std::string NormaliseExpected(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::string out;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        out += line + "\n";
    }
    return out;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteTextFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace velmora::testing
