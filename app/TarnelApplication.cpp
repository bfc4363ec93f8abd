#include "TarnelApplication.h"

namespace tarnel {

namespace {
constexpr const char* kTitleProperty = "tarnelApplicationTitle";
}

QString ApplicationTitle() {
    const QVariant title = QCoreApplication::instance() ? qApp->property(kTitleProperty) : QVariant();
    return title.isValid() ? title.toString() : QStringLiteral("Tarnel");
}

void SetApplicationTitle(const QString& title) {
    if (QCoreApplication::instance())
        qApp->setProperty(kTitleProperty, title);
}

TTarnelApplication::TTarnelApplication(int& argc, char** argv)
    : QApplication(argc, argv) {}

bool TTarnelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // The message box of the report runs its own event loop; an error inside it is not
        // reported again, so one fault cannot stack up message boxes.
        if (!onError_ || reporting_)
            return false;
        reporting_ = true;
        try {
            onError_(std::current_exception());
        } catch (...) {
        }
        reporting_ = false;
        return false;
    }
}

} // namespace tarnel
