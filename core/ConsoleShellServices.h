// Shell services without a person: messages go to a text stream, the frame-size question takes the
// offered default, there are no dialogs, and nothing is opened or switched off. For the command
// line and the benchmarks.
#pragma once

#include "ShellServices.h"

#include <ostream>

namespace tarnel {

class TConsoleShellServices final : public TShellServices {
public:
    explicit TConsoleShellServices(std::ostream& messages)
        : messages_(messages) {}

    void ShowMessage(const std::string& text, const std::string& caption, TMessageIcon) override {
        messages_ << caption << ": " << text << "\n";
    }
    bool AskYesNo(const std::string& text, const std::string&) override {
        messages_ << text << " Yes\n";
        return true;
    }
    std::vector<std::string> ChooseFilesToOpen(const std::vector<TFileFilter>&) override { return {}; }
    void OpenUrl(const std::string&) override {}
    std::string ChooseOutputFolder(const std::string&) override { return {}; }
    bool PowerOff() override { return false; }
    // The command line prints its own summary instead.
    void Notify(const std::string&, const std::string&) override {}

private:
    std::ostream& messages_;
};

} // namespace tarnel
