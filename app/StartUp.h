// The desktop program's start-up: the application object, the main window, the splash window, the
// files named on the command line, and the message loop.
#pragma once

#include <QPointer>
#include <memory>
#include <string>
#include <vector>

namespace tarnel {

class TfrmCover;
class TfrmMain;
class TShellServices;

struct TDesktop {
    std::unique_ptr<TfrmMain> MainWindow;
    QPointer<TfrmCover> Cover; // closes itself
    ~TDesktop();
};

// Makes and shows the main window and the splash window, and adds `files` to the list once the
// event loop runs. The application object must exist.
std::unique_ptr<TDesktop> StartDesktop(TShellServices& services, const std::vector<std::string>& files);

int RunDesktop(int argc, char** argv);

} // namespace tarnel
