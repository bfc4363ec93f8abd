// The test main of the desktop shell's suites: one application object for the whole run, and the
// Qt dispatcher for calls that the media library hands to the main thread.
#include "QtDispatcher.h"
#include "TarnelApplication.h"
#include "base/MainThread.h"
#include "skin/SkinStyle.h"

#include <gtest/gtest.h>
#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tarnel::TTarnelApplication app(argc, argv);
    app.setStyleSheet(tarnel::skin::StyleSheet());
    app.setQuitOnLastWindowClosed(false);
    tarnel::InstallMainThreadDispatcher(std::make_shared<tarnel::TQtDispatcher>());
    const int status = RUN_ALL_TESTS();
    tarnel::InstallMainThreadDispatcher(nullptr);
    return status;
}
