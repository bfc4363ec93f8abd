// The shell services of the desktop program: Qt message boxes and file dialogs, the desktop's URL
// handler, systemctl for switching off.
#pragma once

#include "core/ShellServices.h"

class QWidget;

namespace tarnel {

class TQtShellServices final : public TShellServices {
public:
    // Dialogs are centred over the window that `parent` gives (the main window once it exists).
    explicit TQtShellServices(QWidget* (*parent)() = nullptr);

    void ShowMessage(const std::string& text, const std::string& caption, TMessageIcon icon) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    std::vector<std::string> ChooseFilesToOpen(const std::vector<TFileFilter>& filters) override;
    std::string ChooseFolderToAdd() override;
    void OpenUrl(const std::string& url) override;
    std::string ChooseOutputFolder(const std::string& current) override;
    bool PowerOff() override;
    void Notify(const std::string& title, const std::string& text) override;

private:
    QWidget* Parent() const;
    QWidget* (*parent_)();
};

} // namespace tarnel
