// The program's own error type, and the system's text for an error code.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

// Like std::runtime_error, whose message lives in the library's reference-counted
// string: using that type links a second string implementation (~40 KB) into the
// program for nothing.
class RuntimeError : public std::exception {
  public:
    explicit RuntimeError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

// The system's message for an OS error code, on one line, without the closing period
// ("Access is denied"); empty when the system has none.
std::string SystemErrorMessage(uint32_t osError);
