#pragma once
#include <stdexcept>
#include <string>

// The exception class of every engine failure; the message is the text shown
// to the user.
class FFMpegException : public std::runtime_error {
public:
  explicit FFMpegException(const std::string& message) : std::runtime_error(message) {}
};
