// A rubber-band frame moved and resized with the mouse over another control: a dotted frame with
// eight square handles. It reports the new frame when a drag ends and can keep an attached control
// fitted inside itself.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

namespace tarnel {

class TRectTracker : public QWidget {
    Q_OBJECT
public:
    enum TZone {
        tzLeft = 0,
        tzRight = 1,
        tzTop = 2,
        tzBottom = 3,
        tzTopLeft = 4,
        tzTopRight = 5,
        tzBottomLeft = 6,
        tzBottomRight = 7,
        tzMove = 8,
        tzNone = 9
    };
    static constexpr int kMinimumSize = 10;

    explicit TRectTracker(QWidget* parent = nullptr);

    QWidget* AcControl() const { return acControl_; }
    // Fits the tracker around `control` (5 pixels on each side); null, or the tracker itself, detaches it.
    void SetAcControl(QWidget* control);

    TZone ZoneAt(const QPoint& point) const;
    TZone DragMode() const { return mode_; }
    QRect InnerRect() const { return QRect(QPoint(2, 2), QPoint(width() - 2, height() - 2)); }

signals:
    // The end of a drag that changed the bounds, with the inner rectangle in the parent's
    // coordinates.
    void Changed(const QRect& trackRect);
    void MousePressed(QMouseEvent* event);
    void MouseMoved(QMouseEvent* event);
    void MouseReleased(QMouseEvent* event);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void FitAcControl();
    void SetCursorFor(TZone zone);

    TZone mode_ = tzNone;
    QPoint last_{-1, -1};
    QRect pressBounds_;
    bool fitting_ = false;
    QPointer<QWidget> acControl_;
};

} // namespace tarnel
