// A main window of its own for each test, on a private home and settings folder.
#pragma once

#include "AppTestSupport.h"
#include "MainWindow.h"

#include <QApplication>
#include <memory>

namespace tarnel::test {

class MainWindowTest : public ::testing::Test {
protected:
    // Makes and shows the window; settings written before this call are what it starts with.
    TfrmMain& Start() {
        window_ = std::make_unique<TfrmMain>(services_);
        window_->show();
        QApplication::processEvents();
        return *window_;
    }
    TfrmMain& Window() { return *window_; }
    void WriteSettings(const std::string& text) { WriteTextFile(home_.SettingsFile(), text); }
    std::string SettingsText() const { return ReadTextFile(home_.SettingsFile()); }

    TPrivateHome home_;
    TFakeShellServices services_;
    std::unique_ptr<TfrmMain> window_;
};

} // namespace tarnel::test
