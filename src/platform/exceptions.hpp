#pragma once
// Exception types shared by every layer. `Exception` is the general exception class; the
// others are the conversion, range, list-index and operating-system errors that the stores
// and lists raise to their callers.

#include <stdexcept>
#include <string>

namespace sejfko {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A text that does not convert to a number ("'%s' is not a valid integer value").
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A number outside the range its field can hold.
class ERangeError : public Exception {
public:
    using Exception::Exception;
};

// An index outside a list ("List index out of bounds (%d)").
class EListError : public Exception {
public:
    using Exception::Exception;
};

// A failed operating-system call on a file or directory. `Code` is the errno value.
class EOSError : public Exception {
public:
    EOSError(int code, const std::string& message) : Exception(message), Code(code) {}
    int Code;
};

}  // namespace sejfko
