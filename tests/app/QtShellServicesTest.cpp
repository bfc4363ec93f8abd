// The desktop's shell services where they talk to the user.
#include "QtShellServices.h"

#include "AppTestSupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace tarnel {
namespace {

// Offscreen there is no browser to start: the user is told so instead of a click doing nothing.
TEST(QtShellServicesTest, AnAddressWithoutABrowserSaysSo) {
    TQtShellServices services;
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    services.OpenUrl("https://tarnel.example/help");
    EXPECT_EQ(shown, "No web browser could be started to open https://tarnel.example/help.");
}

} // namespace
} // namespace tarnel
