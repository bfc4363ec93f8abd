#include "PictureView.h"

#include "core/CropGeometry.h"

#include <QPainter>

namespace tarnel {

TPictureView::TPictureView(const QColor& background, QWidget* parent)
    : QWidget(parent)
    , background_(background) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPictureView::SetPicture(const QImage& picture) {
    picture_ = picture.copy();
    update();
}

QRect TPictureView::PictureRect() const {
    const TBox box = FitPicture(picture_.width(), picture_.height(), width(), height());
    return QRect(box.Left, box.Top, box.Width, box.Height);
}

void TPictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    if (!picture_.isNull())
        painter.drawImage(PictureRect(), picture_);
}

} // namespace tarnel
