#include "TimeoutOption.h"

#include "base/InputWatch.h"

#include <cmath>
#include <cstdlib>

namespace tarnel::cli {

std::optional<double> ParseTimeout(const std::string& text) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(seconds) || seconds <= 0 ||
        seconds > TInputWatch::kMaxSeconds)
        return std::nullopt;
    return seconds;
}

std::string TimeoutProblem(const std::string& text) {
    if (ParseTimeout(text))
        return {};
    return "expected seconds above 0 and at most 1000000, got \"" + text + "\"";
}

} // namespace tarnel::cli
