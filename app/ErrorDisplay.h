// The application's error display: every error that escapes an event handler ends here, is shown
// in a message box, and the program keeps running.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace tarnel {

class TShellServices;

// The text as shown: a "." is added when the last character sorts after "." (so "Done!" stays,
// "Cannot open file" gets its full stop).
std::string ErrorDisplayText(const std::string& message);

class TErrorDisplay {
public:
    TErrorDisplay(TShellServices& services, std::function<std::string()> caption);
    // Media-engine errors are shown with the exclamation icon, all others with the error icon; the
    // caption is the application title.
    void Show(std::exception_ptr error);

private:
    TShellServices& services_;
    std::function<std::string()> caption_;
};

} // namespace tarnel
