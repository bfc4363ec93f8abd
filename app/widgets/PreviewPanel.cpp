#include "PreviewPanel.h"

#include <QGuiApplication>
#include <QPainter>

namespace tarnel {

TPreviewPanel::TPreviewPanel(QWidget* parent)
    : QWidget(parent) {
    setObjectName("pnlPreview");
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

uintptr_t PlayerWindowHandle(QWidget& panel) {
    return QGuiApplication::platformName() == "xcb" ? static_cast<uintptr_t>(panel.winId()) : 0;
}

void TPreviewPanel::SetPlayerOwnsPicture(bool owns) {
    playerOwnsPicture_ = owns;
    if (!owns)
        update();
}

void TPreviewPanel::paintEvent(QPaintEvent*) {
    if (playerOwnsPicture_)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

} // namespace tarnel
