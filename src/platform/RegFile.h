// Loads a .reg file as regedit writes it into a MemoryRegistry.
//
// Accepted: "Windows Registry Editor Version 5.00" files in UTF-16LE (with the
// FF FE byte order mark) or UTF-8 (with or without its mark), and "REGEDIT4"
// files in Windows-1252. Key sections ([ROOT\path], [-ROOT\path]), ; comments,
// string, dword, hex: and hex(N): values with continuation lines, @ for the
// default value and =- for deleting a value.
//
// Data is stored exactly as written: hex(N) bytes are never given a terminating
// null, so odd sizes and unterminated strings survive. In a REGEDIT4 file the
// hex(1), hex(2) and hex(7) bytes are ANSI text and are widened to UTF-16.
//
// A file is applied only when all of it parses; otherwise RegFileError is thrown
// and the registry is left untouched.
#pragma once

#include "platform/MemoryRegistry.h"

#include <stdexcept>
#include <string>

namespace velmora {

class RegFileError : public std::runtime_error {
public:
    // what() is "source:line: message" ("line N: message" without a source,
    // "source: message" for line 0, which means the file as a whole).
    RegFileError(const std::string& sourceName, int line, const std::string& message);
    int Line() const { return line_; }

private:
    int line_;
};

void LoadRegFile(MemoryRegistry& reg, const std::string& bytes, const std::string& sourceName = "");
void LoadRegFileFromPath(MemoryRegistry& reg, const std::string& path);

}  // namespace velmora
