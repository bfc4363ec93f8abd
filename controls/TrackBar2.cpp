#include "TrackBar2.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPolygon>
#include <algorithm>

namespace tarnel {

namespace {

const QColor kSilver(192, 192, 192);
const QColor kGrey(128, 128, 128);

// The two-level edge of raised (or, exchanged, lowered) tracks, thumbs and ticks.
void DrawEdge(QPainter& painter, const QRect& rect, bool raised) {
    const QColor outerLight = raised ? Qt::white : Qt::black;
    const QColor outerDark = raised ? Qt::black : Qt::white;
    const QColor innerLight = raised ? kSilver : kGrey;
    const QColor innerDark = raised ? kGrey : kSilver;
    const auto frame = [&](const QRect& r, const QColor& light, const QColor& dark) {
        painter.setPen(light);
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(dark);
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    };
    frame(rect, outerLight, outerDark);
    if (rect.width() > 2 && rect.height() > 2)
        frame(rect.adjusted(1, 1, -1, -1), innerLight, innerDark);
}

// A pointer thumb: a box with a point towards the track, of the given size, pointing up in
// horizontal coordinates (rotated by the caller's direction).
QPixmap PointerPicture(int width, int height, const QColor& fill, int quarterTurns) {
    QPixmap picture(width, height);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const int point = height / 3;
    const QPolygonF shape({QPointF(width / 2.0, 0.5), QPointF(width - 0.5, point),
                           QPointF(width - 0.5, height - 0.5), QPointF(0.5, height - 0.5),
                           QPointF(0.5, point)});
    painter.setPen(QPen(QColor(40, 40, 40), 1));
    painter.setBrush(fill);
    painter.drawPolygon(shape);
    painter.end();
    if (quarterTurns == 0)
        return picture;
    return picture.transformed(QTransform().rotate(90.0 * quarterTurns));
}

} // namespace

TTrackBar2::TTrackBar2(QWidget* parent)
    : QWidget(parent)
    , tickColor_(QApplication::palette().color(QPalette::Button))
    , thumbColor_(QApplication::palette().color(QPalette::Button)) {
    setFocusPolicy(Qt::StrongFocus);
    resize(500, 50);
    RebuildThumbPicture();
    RebuildTickPicture();
}

void TTrackBar2::NotifyChange() {
    emit Changed();
    update();
}

void TTrackBar2::SetPositionL(int value) {
    if (value == positionL_)
        return;
    if (secondThumb_ && value >= positionU_)
        value = positionU_ - 1;
    else if (value > max_)
        value = max_;
    else if (value < min_)
        value = min_;
    if (value == positionL_)
        return;
    positionL_ = value;
    NotifyChange();
}

void TTrackBar2::SetPositionU(int value) {
    if (value == positionU_)
        return;
    if (value > max_)
        value = max_;
    else if (positionL_ >= value)
        value = positionL_ + 1;
    if (value == positionU_)
        return;
    positionU_ = value;
    NotifyChange();
}

void TTrackBar2::SetMax(int value) {
    max_ = value;
    if (positionU_ > value)
        positionU_ = value;
    update();
}

void TTrackBar2::SetMin(int value) {
    min_ = value;
    if (positionL_ < value)
        positionL_ = value;
    update();
}

void TTrackBar2::SetSecondThumb(bool value) {
    secondThumb_ = value;
    RebuildThumbPicture();
    update();
}

void TTrackBar2::SetOrientation(TOrientation value) {
    orientation_ = value;
    const bool wrongShape =
        (value == toVertical && width() > height()) || (value == toHorizontal && height() > width());
    if (wrongShape)
        resize(height(), width());
    RebuildThumbPicture();
    update();
}

void TTrackBar2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (height() > width())
        orientation_ = toVertical;
    else if (width() > height())
        orientation_ = toHorizontal;
    RebuildThumbPicture();
}

void TTrackBar2::SetTrackSize(int value) {
    trackSize_ = value;
    update();
}

void TTrackBar2::SetTrackStyle(TTrackStyle value) {
    trackStyle_ = value;
    update();
}

void TTrackBar2::SetTrackColor(const QColor& value) {
    trackColor_ = value;
    update();
}

void TTrackBar2::SetTickSize(int value) {
    tickSize_ = value;
    RebuildTickPicture();
    update();
}

void TTrackBar2::SetTickStyle(TTickStyle value) {
    tickStyle_ = value;
    if (value == tiLine)
        tickColor_ = Qt::black;
    RebuildTickPicture();
    update();
}

void TTrackBar2::SetTickColor(const QColor& value) {
    tickColor_ = value;
    RebuildTickPicture();
    update();
}

void TTrackBar2::SetTickOrientation(TTickOrientation value) {
    tickOrientation_ = value;
    RebuildThumbPicture();
    update();
}

void TTrackBar2::SetTickInterval(int value) {
    tickInterval_ = value;
    update();
}

void TTrackBar2::SetThumbSize(int value) {
    thumbSize_ = value;
    RebuildThumbPicture();
    update();
}

void TTrackBar2::SetThumbStyle(TThumbStyle value) {
    thumbStyle_ = value;
    RebuildThumbPicture();
    update();
}

void TTrackBar2::SetThumbColor(const QColor& value) {
    thumbColor_ = value;
    RebuildThumbPicture();
    update();
}

void TTrackBar2::SetDitherThumb(bool value) {
    ditherThumb_ = value;
    if (!isEnabled())
        update();
}

void TTrackBar2::SetCtl3D(bool value) {
    if (!value)
        return;
    trackStyle_ = trLowered;
    if (thumbStyle_ == tsRectangle || thumbStyle_ == tsLoweredRectangle)
        SetThumbStyle(tsRaisedRectangle);
    update();
}

// --- Geometry ---------------------------------------------------------------------------------------

QSize TTrackBar2::ThumbBoxSize() const {
    switch (thumbStyle_) {
    case tsUserDrawn:
        return {thumbSize_, thumbSize_};
    case tsSmallPointer:
    case tsMediumPointer:
    case tsLargePointer: {
        // The picture is drawn along the axis; its box is given in horizontal coordinates.
        const QSize size = thumbPicture_.size();
        return orientation_ == toHorizontal ? size : size.transposed();
    }
    default:
        return {thumbSize_ / 2, thumbSize_};
    }
}

int TTrackBar2::ThumbHalf() const {
    switch (thumbStyle_) {
    case tsUserDrawn:
        return thumbSize_ / 2;
    case tsSmallPointer:
    case tsMediumPointer:
    case tsLargePointer:
        return ThumbBoxSize().width() / 2;
    default:
        return thumbSize_ / 4;
    }
}

int TTrackBar2::AlongLength() const {
    return orientation_ == toHorizontal ? width() : height();
}

int TTrackBar2::AcrossLength() const {
    return orientation_ == toHorizontal ? height() : width();
}

// Vertical bars have Max at the top: their axis runs upwards.
int TTrackBar2::Along(const QPoint& point) const {
    return orientation_ == toHorizontal ? point.x() : height() - 1 - point.y();
}

QRect TTrackBar2::Oriented(const QRect& r) const {
    if (orientation_ == toHorizontal)
        return r;
    return QRect(r.y(), height() - r.x() - r.width(), r.height(), r.width());
}

int TTrackBar2::TrackLength() const {
    return AlongLength() - thumbSize_;
}

QRect TTrackBar2::TrackRect() const {
    const int middle = AcrossLength() / 2;
    return Oriented(QRect(QPoint(thumbSize_ / 2, middle - trackSize_ / 2),
                          QPoint(thumbSize_ / 2 + TrackLength(), middle + trackSize_ / 2)));
}

QRect TTrackBar2::ThumbBox(int position) const {
    const QSize box = ThumbBoxSize();
    const int range = max_ - min_;
    const int offset = range != 0 ? TrackLength() * (position - min_) / range : 0;
    const int left = offset + (thumbSize_ / 2 - ThumbHalf());
    const int top = AcrossLength() / 2 - box.height() / 2;
    return Oriented(QRect(left, top, box.width(), box.height()));
}

int TTrackBar2::PositionAt(int pixel) const {
    const int length = TrackLength();
    if (length <= 0)
        return min_;
    return (pixel - ThumbHalf()) * (max_ - min_) / length + min_;
}

// --- Pictures ---------------------------------------------------------------------------------------

void TTrackBar2::RebuildThumbPicture() {
    switch (thumbStyle_) {
    case tsUserDrawn:
        thumbPicture_ = QPixmap();
        return;
    case tsSmallPointer:
    case tsMediumPointer:
    case tsLargePointer: {
        const int width = thumbStyle_ == tsSmallPointer ? 11 : thumbStyle_ == tsMediumPointer ? 15 : 21;
        const int height = width * 2 - 3;
        // Horizontal bars point up (down for ticks below only); vertical bars left (right).
        const bool towardsStart = tickOrientation_ != toBottomRight;
        const int turns = orientation_ == toHorizontal ? (towardsStart ? 0 : 2) : (towardsStart ? 3 : 1);
        thumbPicture_ = PointerPicture(width, height, thumbColor_, turns);
        return;
    }
    default:
        break;
    }
    const QSize box = Oriented(QRect(QPoint(0, 0), ThumbBoxSize())).size();
    thumbPicture_ = QPixmap(std::max(box.width(), 1), std::max(box.height(), 1));
    thumbPicture_.fill(thumbColor_);
    QPainter painter(&thumbPicture_);
    const QRect frame = thumbPicture_.rect();
    if (thumbStyle_ == tsRectangle) {
        painter.setPen(Qt::black);
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
    } else {
        DrawEdge(painter, frame, thumbStyle_ == tsRaisedRectangle);
    }
}

void TTrackBar2::RebuildTickPicture() {
    const int size = std::max(tickSize_, 1);
    tickPicture_ = QPixmap(size, size);
    tickPicture_.fill(tickColor_);
    if (tickStyle_ == tiRaisedSquare || tickStyle_ == tiLoweredSquare) {
        QPainter painter(&tickPicture_);
        DrawEdge(painter, tickPicture_.rect(), tickStyle_ == tiRaisedSquare);
    }
}

// 8 × 8 pixels of the track colour, every pixel whose coordinates add up to an odd number grey on a
// silver track and silver on any other.
QBrush TTrackBar2::CheckerBrush() const {
    QPixmap pattern(8, 8);
    pattern.fill(trackColor_);
    QPainter painter(&pattern);
    painter.setPen(trackColor_ == kSilver ? kGrey : kSilver);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if ((x + y) % 2 == 1)
                painter.drawPoint(x, y);
    painter.end();
    return QBrush(pattern);
}

// --- Painting ---------------------------------------------------------------------------------------

void TTrackBar2::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    emit Painting(painter);
    DrawTrack(painter);
    DrawTicks(painter);
    DrawThumbs(painter);
}

void TTrackBar2::DrawTrack(QPainter& painter) {
    if (trackStyle_ == trUserDrawn) {
        emit DrawingTrack(painter);
        return;
    }
    const QRect track = TrackRect();
    painter.fillRect(track, isEnabled() ? QBrush(trackColor_) : CheckerBrush());
    if (trackStyle_ != trFlat)
        DrawEdge(painter, track, trackStyle_ == trRaised);
}

void TTrackBar2::DrawTicks(QPainter& painter) {
    const int range = max_ - min_;
    if (range <= 0 || tickInterval_ < 1)
        return;
    const bool startSide = tickOrientation_ == toTopLeft || tickOrientation_ == toBoth;
    const bool endSide = tickOrientation_ == toBottomRight || tickOrientation_ == toBoth;
    for (int m = min_; m <= max_; m += tickInterval_) {
        const int along = (m - min_) * TrackLength() / range + thumbSize_ / 2;
        for (const bool start : {true, false}) {
            if ((start && !startSide) || (!start && !endSide))
                continue;
            const int across = start ? 2 : AcrossLength() - tickSize_ - 2;
            const QRect spot = Oriented(QRect(along, across, 1, tickSize_));
            if (tickStyle_ == tiUserDrawn) {
                emit DrawingTick(painter, spot.x(), spot.y(), m);
            } else if (tickStyle_ == tiLine) {
                painter.setPen(tickColor_);
                painter.drawLine(spot.topLeft(), spot.bottomRight());
            } else {
                const QRect square = Oriented(QRect(along - tickSize_ / 2, across, tickSize_, tickSize_));
                painter.drawPixmap(square.topLeft(), tickPicture_);
            }
        }
    }
}

void TTrackBar2::DrawThumbs(QPainter& painter) {
    const QRect lower = ThumbBox(positionL_);
    const QRect upper = ThumbBox(positionU_);
    if (thumbStyle_ == tsUserDrawn) {
        // The host draws them; without hit rectangles a click never starts a drag.
        emit DrawingThumb(painter, lower.x(), lower.y());
        if (secondThumb_)
            emit DrawingThumb(painter, upper.x(), upper.y());
        return;
    }
    const auto drawThumb = [&](const QRect& box) {
        painter.drawPixmap(box.topLeft(), thumbPicture_);
        if (!isEnabled() && ditherThumb_)
            painter.fillRect(box.adjusted(2, 2, -2, -2), CheckerBrush());
    };
    drawThumb(lower);
    hitL_ = lower;
    if (!secondThumb_) {
        hitU_ = QRect();
        return;
    }
    drawThumb(upper);
    hitU_ = upper;
    const QRect track = TrackRect();
    painter.setPen(Qt::black);
    if (orientation_ == toHorizontal) {
        const int middle = (lower.right() + upper.left()) / 2;
        painter.drawLine(middle, track.top(), middle, track.bottom());
    } else {
        const int middle = (lower.top() + upper.bottom()) / 2;
        painter.drawLine(track.left(), middle, track.right(), middle);
    }
}

// --- Mouse and keys ---------------------------------------------------------------------------------

void TTrackBar2::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus();
    const QPoint point = event->position().toPoint();
    const int along = Along(point);
    bool upper = false;
    if (secondThumb_) {
        // Beyond the middle between the lower box's far edge and the upper box's near edge.
        const QRect lowerBox = ThumbBox(positionL_);
        const QRect upperBox = ThumbBox(positionU_);
        const int lowerFar = orientation_ == toHorizontal ? lowerBox.right() : height() - 1 - lowerBox.top();
        const int upperNear =
            orientation_ == toHorizontal ? upperBox.left() : height() - 1 - upperBox.bottom();
        upper = along > (lowerFar + upperNear) / 2;
    }
    const QRect& hit = upper ? hitU_ : hitL_;
    if (hit.contains(point)) {
        (upper ? trackingU_ : trackingL_) = true;
        return;
    }
    const int current = upper ? positionU_ : positionL_;
    int target = PositionAt(along);
    if (event->modifiers() & Qt::ShiftModifier) {
        const QRect box = ThumbBox(current);
        const int boxStart = orientation_ == toHorizontal ? box.left() : height() - 1 - box.bottom();
        const int boxEnd = orientation_ == toHorizontal ? box.right() : height() - 1 - box.top();
        if (along > boxEnd)
            target = current + smallChange_;
        else if (along < boxStart)
            target = current - smallChange_;
        else
            return;
    }
    if (upper)
        SetPositionU(target);
    else
        SetPositionL(target);
}

void TTrackBar2::mouseMoveEvent(QMouseEvent* event) {
    const int along = Along(event->position().toPoint());
    if (trackingL_)
        SetPositionL(PositionAt(along));
    else if (trackingU_)
        SetPositionU(PositionAt(along));
    QWidget::mouseMoveEvent(event);
}

void TTrackBar2::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        trackingL_ = trackingU_ = false;
    QWidget::mouseReleaseEvent(event);
}

void TTrackBar2::keyPressEvent(QKeyEvent* event) {
    const bool upper = (event->modifiers() & Qt::ShiftModifier) && secondThumb_;
    const int current = upper ? positionU_ : positionL_;
    int step = 0;
    switch (event->key()) {
    case Qt::Key_PageUp:
        step = largeChange_;
        break;
    case Qt::Key_PageDown:
        step = -largeChange_;
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        step = smallChange_;
        break;
    case Qt::Key_Left:
    case Qt::Key_Down:
        step = -smallChange_;
        break;
    default:
        break;
    }
    if (step != 0) {
        if (upper)
            SetPositionU(current + step);
        else
            SetPositionL(current + step);
    }
    QWidget::keyPressEvent(event);
}

void TTrackBar2::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(event);
}

void TTrackBar2::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void TTrackBar2::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

} // namespace tarnel
