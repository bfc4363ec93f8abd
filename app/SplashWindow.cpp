#include "SplashWindow.h"

#include "core/GlobalObject.h"
#include "skin/SkinPictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace tarnel {

TfrmCover::TfrmCover(QWidget* mainWindow)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , mainWindow_(mainWindow)
    , picture_(LoadPicture()) {
    setObjectName("frmCover");
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(picture_.size());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    timer_.setInterval(2000);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (mainWindow_ && mainWindow_->isVisible())
            close();
    });
    timer_.start();
}

QImage TfrmCover::LoadPicture() {
    const QString file = QString::fromStdString(TGlobalObject::ShippedDataFolder() + "skin/tarnelcover.jpg");
    QImage picture;
    if (!file.startsWith("skin/") && picture.load(file))
        return picture;
    return skin::CoverPicture();
}

void TfrmCover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(rect(), picture_);
}

} // namespace tarnel
