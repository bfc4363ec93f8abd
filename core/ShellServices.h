// What the shell asks of the person and of the desktop: message boxes, questions, file and folder
// choices, opening folders and web pages, switching the computer off. The desktop program answers
// through Qt dialogs; tests and the command line answer without a person.
#pragma once

#include <string>
#include <vector>

namespace tarnel {

enum class TMessageIcon { None, Information, Warning, Question, Error };

struct TFileFilter {
    std::string Description;
    std::string Patterns; // "*.avi;*.mp4"
};

class TShellServices {
public:
    virtual ~TShellServices() = default;

    virtual void ShowMessage(const std::string& text, const std::string& caption, TMessageIcon icon) = 0;
    // True for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
    // Existing files chosen by the person, in the dialog's order; empty when cancelled.
    virtual std::vector<std::string> ChooseFilesToOpen(const std::vector<TFileFilter>& filters) = 0;
    // A folder whose media files are to be added; empty when cancelled or when nobody can choose.
    virtual std::string ChooseFolderToAdd() { return {}; }
    // Opens a folder or a web page in the desktop's handler for it.
    virtual void OpenUrl(const std::string& url) = 0;
    // The output-folder chooser: the folder the person picked, empty when none.
    virtual std::string ChooseOutputFolder(const std::string& current) = 0;
    // Switches the computer off; false when the system refuses.
    virtual bool PowerOff() = 0;
    // A desktop notification; where the desktop has no notification service, nothing happens.
    virtual void Notify(const std::string& title, const std::string& text) = 0;
};

} // namespace tarnel
