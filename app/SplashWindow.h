// The splash window shown while the program starts: one borderless picture in the middle of the
// screen, closed by its 2-second timer once the main window is showing.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

namespace tarnel {

class TfrmCover : public QWidget {
    Q_OBJECT
public:
    // `mainWindow` is watched by the timer.
    explicit TfrmCover(QWidget* mainWindow);

    const QImage& Picture() const { return picture_; }
    // The picture of skin/tarnelcover.jpg in the shipped data when it exists, else Tarnel's own.
    static QImage LoadPicture();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* mainWindow_;
    QImage picture_;
    QTimer timer_;
};

} // namespace tarnel
