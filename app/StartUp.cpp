#include "StartUp.h"

#include "MainWindow.h"
#include "QtDispatcher.h"
#include "QtShellServices.h"
#include "SplashWindow.h"
#include "TarnelApplication.h"
#include "base/MainThread.h"
#include "base/ProcessMemory.h"
#include "skin/SkinStyle.h"

#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tarnel {

namespace {

bool HasEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// True when there is a display to open windows on. Under Wayland with XWayland present the program
// asks Qt for X11: the player draws into the native window of a widget.
bool PrepareDisplay() {
    if (HasEnvironment("QT_QPA_PLATFORM"))
        return true;
    if (HasEnvironment("WAYLAND_DISPLAY") && HasEnvironment("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    return HasEnvironment("DISPLAY") || HasEnvironment("WAYLAND_DISPLAY");
}

std::vector<std::string> AbsolutePaths(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(argv[i], ec);
        files.push_back(ec ? std::string(argv[i]) : absolute.lexically_normal().string());
    }
    return files;
}

TfrmMain* g_mainWindow = nullptr;

QWidget* MainWindowForDialogs() {
    return g_mainWindow;
}

} // namespace

TDesktop::~TDesktop() {
    delete Cover.data();
}

std::unique_ptr<TDesktop> StartDesktop(TShellServices& services, const std::vector<std::string>& files) {
    auto desktop = std::make_unique<TDesktop>();
    desktop->MainWindow = std::make_unique<TfrmMain>(services);
    TfrmMain* mainWindow = desktop->MainWindow.get();

    desktop->Cover = new TfrmCover(mainWindow);
    desktop->Cover->show();
    desktop->Cover->repaint();

    mainWindow->show();
    if (!files.empty())
        QTimer::singleShot(0, mainWindow, [mainWindow, files] { mainWindow->AddFiles(files); });
    return desktop;
}

int RunDesktop(int argc, char** argv) {
    LimitAllocatorArenas();
    if (!PrepareDisplay()) {
        std::fprintf(stderr, "tarnel: no display found (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                             "Use tarnel-cli to convert, probe and play files without a desktop.\n");
        return 1;
    }
    TTarnelApplication app(argc, argv);
    TTarnelApplication::setApplicationName("Tarnel");
    TTarnelApplication::setApplicationVersion(TARNEL_VERSION);
    app.setStyleSheet(skin::StyleSheet());

    auto dispatcher = std::make_shared<TQtDispatcher>();
    InstallMainThreadDispatcher(dispatcher);
    // An exception of a call handed to the main thread is reported like one of any event handler.
    dispatcher->SetFailureHandler([&app](std::exception_ptr error) {
        QTimer::singleShot(0, &app, [error] { std::rethrow_exception(error); });
    });
    TQtShellServices services(&MainWindowForDialogs);

    int status = 0;
    {
        std::unique_ptr<TDesktop> desktop = StartDesktop(services, AbsolutePaths(argc, argv));
        g_mainWindow = desktop->MainWindow.get();
        status = TTarnelApplication::exec();
        g_mainWindow = nullptr;
    }
    InstallMainThreadDispatcher(nullptr);
    return status;
}

} // namespace tarnel
