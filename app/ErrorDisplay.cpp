#include "ErrorDisplay.h"

#include "base/FFmpegException.h"
#include "core/ShellServices.h"

#include <QDebug>

namespace tarnel {

std::string ErrorDisplayText(const std::string& message) {
    if (!message.empty() && message.back() > '.')
        return message + ".";
    return message;
}

TErrorDisplay::TErrorDisplay(TShellServices& services, std::function<std::string()> caption)
    : services_(services)
    , caption_(std::move(caption)) {}

void TErrorDisplay::Show(std::exception_ptr error) {
    std::string message;
    TMessageIcon icon = TMessageIcon::Error;
    try {
        std::rethrow_exception(error);
    } catch (const FFmpegException& e) {
        message = e.what();
        icon = TMessageIcon::Warning;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown error";
    }
    qWarning().noquote() << "tarnel:" << QString::fromStdString(message);
    services_.ShowMessage(ErrorDisplayText(message), caption_(), icon);
}

} // namespace tarnel
