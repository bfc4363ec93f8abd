// The exception of the engine and the conversion component: a fixed English message.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnel {

class FFmpegException : public std::runtime_error {
public:
    explicit FFmpegException(const std::string& message)
        : std::runtime_error(message) {}
};

} // namespace tarnel
