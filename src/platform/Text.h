// UTF-16 text helpers and the program's base exception.
#pragma once

#include <exception>
#include <string>

namespace velmora {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const std::u16string& text);
// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string FromUtf8(const std::string& text);

// Replaces the first "%s" of a message pattern with an argument.
std::u16string FormatMessage(const std::u16string& pattern, const std::u16string& argument);

// An error the program shows to the user: it carries only its UTF-16 message.
class Exception : public std::exception {
public:
    explicit Exception(std::u16string message);
    const std::u16string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::u16string message_;
    std::string utf8_;
};

}  // namespace velmora
