#include "AppTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tarnel::test {

void TFakeShellServices::ShowMessage(const std::string& text, const std::string& caption, TMessageIcon icon) {
    Messages.push_back({text, caption, icon});
}

bool TFakeShellServices::AskYesNo(const std::string& text, const std::string&) {
    Questions.push_back(text);
    if (Answers.empty())
        return false;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
}

std::vector<std::string> TFakeShellServices::ChooseFilesToOpen(const std::vector<TFileFilter>& filters) {
    ++OpenDialogs;
    LastFilters = filters;
    return FilesToOpen;
}

void TFakeShellServices::Notify(const std::string& title, const std::string& text) {
    Notifications.push_back(title + ": " + text);
}

void TFakeShellServices::OpenUrl(const std::string& url) {
    OpenedUrls.push_back(url);
}

std::string TFakeShellServices::ChooseOutputFolder(const std::string&) {
    return ChosenFolder;
}

bool TFakeShellServices::PowerOff() {
    ++PowerOffs;
    return true;
}

namespace {

void PutLE(std::ofstream& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void WriteSilentWav(const std::filesystem::path& path, double seconds) {
    constexpr uint32_t kRate = 8000;
    const auto dataBytes = static_cast<uint32_t>(seconds * kRate) * 2;
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    PutLE(out, 36 + dataBytes, 4);
    out.write("WAVEfmt ", 8);
    PutLE(out, 16, 4);
    PutLE(out, 1, 2); // PCM
    PutLE(out, 1, 2); // mono
    PutLE(out, kRate, 4);
    PutLE(out, kRate * 2, 4);
    PutLE(out, 2, 2);
    PutLE(out, 16, 2);
    out.write("data", 4);
    PutLE(out, dataBytes, 4);
    const std::string silence(dataBytes, '\0');
    out.write(silence.data(), static_cast<std::streamsize>(silence.size()));
}

std::string ReadTextFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteTextFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace tarnel::test
