// A track bar with one or two thumbs: a lower thumb at PositionL and, with SecondThumb, an upper
// thumb at PositionU kept above it. Track, ticks and thumbs are drawn in built-in styles or by the
// host through the drawing events.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>
#include <optional>

namespace tarnel {

class TTrackBar2 : public QWidget {
    Q_OBJECT
public:
    enum TOrientation { toHorizontal, toVertical };
    enum TTrackStyle { trUserDrawn, trFlat, trRaised, trLowered };
    enum TTickStyle { tiUserDrawn, tiLine, tiSquare, tiRaisedSquare, tiLoweredSquare };
    enum TTickOrientation { toTopLeft, toBottomRight, toBoth };
    enum TThumbStyle {
        tsUserDrawn,
        tsRectangle,
        tsRaisedRectangle,
        tsLoweredRectangle,
        tsSmallPointer,
        tsMediumPointer,
        tsLargePointer
    };

    explicit TTrackBar2(QWidget* parent = nullptr);

    int Min() const { return min_; }
    void SetMin(int value);
    int Max() const { return max_; }
    void SetMax(int value);
    int PositionL() const { return positionL_; }
    void SetPositionL(int value);
    int PositionU() const { return positionU_; }
    void SetPositionU(int value);
    bool SecondThumb() const { return secondThumb_; }
    void SetSecondThumb(bool value);
    int SmallChange() const { return smallChange_; }
    void SetSmallChange(int value) { smallChange_ = value; }
    int LargeChange() const { return largeChange_; }
    void SetLargeChange(int value) { largeChange_ = value; }
    TOrientation Orientation() const { return orientation_; }
    void SetOrientation(TOrientation value);
    int TrackSize() const { return trackSize_; }
    void SetTrackSize(int value);
    TTrackStyle TrackStyle() const { return trackStyle_; }
    void SetTrackStyle(TTrackStyle value);
    QColor TrackColor() const { return trackColor_; }
    void SetTrackColor(const QColor& value);
    int TickSize() const { return tickSize_; }
    void SetTickSize(int value);
    TTickStyle TickStyle() const { return tickStyle_; }
    void SetTickStyle(TTickStyle value);
    QColor TickColor() const { return tickColor_; }
    void SetTickColor(const QColor& value);
    TTickOrientation TickOrientation() const { return tickOrientation_; }
    void SetTickOrientation(TTickOrientation value);
    int TickInterval() const { return tickInterval_; }
    void SetTickInterval(int value);
    int ThumbSize() const { return thumbSize_; }
    void SetThumbSize(int value);
    TThumbStyle ThumbStyle() const { return thumbStyle_; }
    void SetThumbStyle(TThumbStyle value);
    QColor ThumbColor() const { return thumbColor_; }
    void SetThumbColor(const QColor& value);
    bool DitherThumb() const { return ditherThumb_; }
    void SetDitherThumb(bool value);
    // The 3-D look: a lowered track and raised rectangle thumbs.
    void SetCtl3D(bool value);
    bool TrackingL() const { return trackingL_; }
    bool TrackingU() const { return trackingU_; }

signals:
    // Every effective change of a position, by the program or by the user.
    void Changed();
    // First on every paint.
    void Painting(QPainter& painter);
    // The host's drawing of a user-drawn track, thumb (its box starts at x, y) or tick.
    void DrawingTrack(QPainter& painter);
    void DrawingThumb(QPainter& painter, int x, int y);
    void DrawingTick(QPainter& painter, int x, int y, int position);

public:
    // Geometry, in the widget's pixels.
    int TrackLength() const;
    QRect TrackRect() const;
    QRect ThumbBox(int position) const;
    // The position a pixel along the axis stands for (not clamped).
    int PositionAt(int pixel) const;
    // The lower and the upper thumb's hit rectangles as last drawn (empty for host-drawn thumbs).
    QRect HitRectL() const { return hitL_; }
    QRect HitRectU() const { return hitU_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QSize ThumbBoxSize() const;
    int ThumbHalf() const;
    // Along and across the axis: x and y for horizontal bars, y (from the bottom) and x for vertical ones.
    int Along(const QPoint& point) const;
    int AlongLength() const;
    int AcrossLength() const;
    QRect Oriented(const QRect& horizontal) const;
    void RebuildThumbPicture();
    void RebuildTickPicture();
    QBrush CheckerBrush() const;
    void DrawTrack(QPainter& painter);
    void DrawTicks(QPainter& painter);
    void DrawThumbs(QPainter& painter);
    void NotifyChange();

    int min_ = 0;
    int max_ = 20;
    int positionL_ = 0;
    int positionU_ = 10;
    bool secondThumb_ = false;
    int smallChange_ = 1;
    int largeChange_ = 2;
    TOrientation orientation_ = toHorizontal;
    int trackSize_ = 10;
    TTrackStyle trackStyle_ = trLowered;
    QColor trackColor_ = Qt::white;
    int tickSize_ = 6;
    TTickStyle tickStyle_ = tiRaisedSquare;
    QColor tickColor_;
    TTickOrientation tickOrientation_ = toBoth;
    int tickInterval_ = 1;
    int thumbSize_ = 20;
    TThumbStyle thumbStyle_ = tsRaisedRectangle;
    QColor thumbColor_;
    bool ditherThumb_ = true;
    bool trackingL_ = false;
    bool trackingU_ = false;
    QRect hitL_;
    QRect hitU_;
    QPixmap thumbPicture_;
    QPixmap tickPicture_;
};

} // namespace tarnel
