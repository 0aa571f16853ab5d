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
std::u16string FormatWithArgument(const std::u16string& pattern, const std::u16string& argument);

// The text the error display shows for an exception's message: a full stop is
// added when the message is not empty and its last UTF-16 unit lies above '.'.
std::u16string ExceptionDisplayText(const std::u16string& message);

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

// An error that ends a command silently: the error display drops it.
class EAbort : public Exception {
public:
    EAbort() : Exception(u"Operation aborted") {}
};

}  // namespace velmora
