// What the desktop shell's tests share: shell services answered by the test, a private home and
// settings folder per test, and media files made for a test.
#pragma once

#include "TestSupport.h"
#include "core/ShellServices.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarnel::test {

class TFakeShellServices final : public TShellServices {
public:
    struct Message {
        std::string Text;
        std::string Caption;
        TMessageIcon Icon;
    };

    void ShowMessage(const std::string& text, const std::string& caption, TMessageIcon icon) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    std::vector<std::string> ChooseFilesToOpen(const std::vector<TFileFilter>& filters) override;
    std::string ChooseFolderToAdd() override { return FolderToAdd; }
    void OpenUrl(const std::string& url) override;
    std::string ChooseOutputFolder(const std::string& current) override;
    bool PowerOff() override;
    void Notify(const std::string& title, const std::string& text) override;

    std::vector<Message> Messages;
    std::vector<std::string> Questions;
    std::deque<bool> Answers; // the next answers of AskYesNo; No when empty
    std::vector<std::string> FilesToOpen;
    int OpenDialogs = 0;
    std::vector<TFileFilter> LastFilters;
    std::vector<std::string> OpenedUrls;
    std::string ChosenFolder;               // what the folder chooser answers
    std::string FolderToAdd;                // what the Add Folder chooser answers
    int PowerOffs = 0;                      // never switches anything off
    std::vector<std::string> Notifications; // "title: text"
};

// Runs the event loop until `condition` holds or `milliseconds` have passed; whether it holds.
// (Qt's QTRY_ macros report to Qt's own test framework, not to this one.)
bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 5000);

// A PCM WAV file of `seconds` of silence (8 kHz mono), whose duration every reader gets exactly.
void WriteSilentWav(const std::filesystem::path& path, double seconds);
std::string ReadTextFile(const std::filesystem::path& path);
void WriteTextFile(const std::filesystem::path& path, const std::string& text);

} // namespace tarnel::test
