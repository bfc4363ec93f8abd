// The QApplication of the desktop program: exceptions that escape any event handler reach the
// application's error display instead of ending the program.
#pragma once

#include <QApplication>
#include <exception>
#include <functional>

namespace tarnel {

// The application title that message boxes without a caption of their own show ("Tarnelix" once the
// main window has set it).
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

class TTarnelApplication : public QApplication {
public:
    TTarnelApplication(int& argc, char** argv);

    void SetErrorHandler(std::function<void(std::exception_ptr)> handler) { onError_ = std::move(handler); }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    std::function<void(std::exception_ptr)> onError_;
    bool reporting_ = false;
};

} // namespace tarnel
