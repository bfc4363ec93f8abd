#include "RectTracker.h"

#include <QMouseEvent>
#include <QPainter>

namespace tarnel {

namespace {

bool InSquare(const QPoint& p, int left, int top, int right, int bottom) {
    return p.x() >= left && p.x() < right && p.y() >= top && p.y() < bottom;
}

} // namespace

TRectTracker::TRectTracker(QWidget* parent)
    : QWidget(parent) {
    setMinimumSize(kMinimumSize, kMinimumSize);
    resize(65, 65);
    setMouseTracking(true);
    setAttribute(Qt::WA_NoSystemBackground);
}

TRectTracker::TZone TRectTracker::ZoneAt(const QPoint& p) const {
    const int w = width(), h = height();
    if (InSquare(p, 0, 0, 5, 5))
        return tzTopLeft;
    if (InSquare(p, w - 5, h - 5, w, h))
        return tzBottomRight;
    if (InSquare(p, 0, h - 5, 5, h))
        return tzBottomLeft;
    if (InSquare(p, w - 5, 0, w, 5))
        return tzTopRight;
    if (InSquare(p, 0, h / 2, 5, h / 2 + 5))
        return tzLeft;
    if (InSquare(p, w - 5, h / 2, w, h / 2 + 5))
        return tzRight;
    if (InSquare(p, w / 2, 0, w / 2 + 5, 5))
        return tzTop;
    if (InSquare(p, w / 2, h - 5, w / 2 + 5, h))
        return tzBottom;
    if (InSquare(p, 2, 2, w - 2, h - 2))
        return tzMove;
    return tzNone;
}

void TRectTracker::SetCursorFor(TZone zone) {
    switch (zone) {
    case tzTopLeft:
    case tzBottomRight:
        setCursor(Qt::SizeFDiagCursor);
        break;
    case tzTopRight:
    case tzBottomLeft:
        setCursor(Qt::SizeBDiagCursor);
        break;
    case tzLeft:
    case tzRight:
        setCursor(Qt::SizeHorCursor);
        break;
    case tzTop:
    case tzBottom:
        setCursor(Qt::SizeVerCursor);
        break;
    case tzMove:
        setCursor(Qt::SizeAllCursor);
        break;
    case tzNone:
        unsetCursor();
        break;
    }
}

void TRectTracker::SetAcControl(QWidget* control) {
    acControl_ = control == this ? nullptr : control;
    if (!acControl_)
        return;
    fitting_ = true;
    setGeometry(acControl_->x() - 5, acControl_->y() - 5, acControl_->width() + 10,
                acControl_->height() + 10);
    fitting_ = false;
}

void TRectTracker::FitAcControl() {
    if (fitting_ || !acControl_)
        return;
    const QRect wanted(x() + 5, y() + 5, width() - 10, height() - 10);
    acControl_->setGeometry(wanted);
    if (acControl_->geometry() != wanted)
        acControl_ = nullptr; // the control cannot take these bounds
}

void TRectTracker::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitAcControl();
}

void TRectTracker::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    FitAcControl();
}

void TRectTracker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = width(), h = height();
    QPen dotted(Qt::black, 1, Qt::DotLine);
    painter.setCompositionMode(QPainter::RasterOp_NotDestination); // visible on any picture
    painter.setPen(dotted);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(QPoint(2, 2), QPoint(w - 3, h - 3)));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (const int x : {0, w / 2, w - 5})
        for (const int y : {0, h / 2, h - 5})
            if (x != w / 2 || y != h / 2)
                painter.fillRect(x, y, 5, 5, Qt::black);
}

void TRectTracker::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressBounds_ = geometry();
        last_ = event->position().toPoint();
        mode_ = ZoneAt(last_);
    }
    emit MousePressed(event);
}

void TRectTracker::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        mode_ = tzNone;
        last_ = QPoint(-1, -1);
        if (geometry() != pressBounds_)
            emit Changed(QRect(QPoint(x() + 2, y() + 2), QPoint(x() + width() - 2, y() + height() - 2)));
    }
    emit MouseReleased(event);
}

// Coordinates are the tracker's own: where the tracker moves with the mouse (left and top edges,
// moving) the remembered point stays valid; where it stays put the remembered point follows.
void TRectTracker::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (mode_ != tzNone && (event->buttons() & Qt::LeftButton)) {
        const int dx = p.x() - last_.x();
        const int dy = p.y() - last_.y();
        QRect b = geometry();
        const auto moveLeft = [&] {
            if (b.width() > kMinimumSize || dx <= 0)
                b.setLeft(b.left() + dx);
        };
        const auto moveTop = [&] {
            if (b.height() > kMinimumSize || dy <= 0)
                b.setTop(b.top() + dy);
        };
        switch (mode_) {
        case tzLeft:
            moveLeft();
            break;
        case tzRight:
            b.setWidth(b.width() + dx);
            last_.setX(p.x());
            break;
        case tzTop:
            moveTop();
            break;
        case tzBottom:
            b.setHeight(b.height() + dy);
            last_.setY(p.y());
            break;
        case tzTopLeft:
            if (b.width() > kMinimumSize || dx <= 0) {
                b.setLeft(b.left() + dx);
                if (!(b.height() <= kMinimumSize && dy > 0))
                    b.setTop(b.top() + dy);
            } else {
                moveTop();
            }
            break;
        case tzTopRight:
            b.setWidth(b.width() + dx);
            if (!(b.height() <= kMinimumSize && dy > 0))
                b.setTop(b.top() + dy);
            last_.setX(p.x());
            break;
        case tzBottomLeft:
            moveLeft();
            b.setHeight(b.height() + dy);
            last_.setY(p.y());
            break;
        case tzBottomRight:
            b.setWidth(b.width() + dx);
            b.setHeight(b.height() + dy);
            last_ = p;
            break;
        case tzMove:
            b.translate(dx, dy);
            break;
        case tzNone:
            break;
        }
        // The size constraint: an edge that passes the opposite one stops at the minimum size.
        if (b.width() < kMinimumSize) {
            if (b.left() != geometry().left())
                b.setLeft(b.right() - kMinimumSize + 1);
            else
                b.setWidth(kMinimumSize);
        }
        if (b.height() < kMinimumSize) {
            if (b.top() != geometry().top())
                b.setTop(b.bottom() - kMinimumSize + 1);
            else
                b.setHeight(kMinimumSize);
        }
        if (b != geometry())
            setGeometry(b);
    }
    SetCursorFor(ZoneAt(event->position().toPoint()));
    emit MouseMoved(event);
}

} // namespace tarnel
