// The rectangle tracker: hit zones, the drag table with its minimum size, the change signal and the
// attached control.
#include "RectTracker.h"

#include <QApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

namespace tarnel {
namespace {

// Sends a mouse event at `global` (parent coordinates), as the tracker would receive it there.
void Send(TRectTracker& tracker, QEvent::Type type, QPoint global, Qt::MouseButtons held) {
    const QPointF local = global - tracker.pos();
    QMouseEvent event(type, local, local, Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(&tracker, &event);
}

// Presses at `from` (tracker coordinates), moves by (dx, dy) in one step and releases.
void Drag(TRectTracker& tracker, QPoint from, int dx, int dy) {
    const QPoint start = tracker.pos() + from;
    Send(tracker, QEvent::MouseButtonPress, start, Qt::LeftButton);
    Send(tracker, QEvent::MouseMove, start + QPoint(dx, dy), Qt::LeftButton);
    Send(tracker, QEvent::MouseButtonRelease, start + QPoint(dx, dy), Qt::NoButton);
}

struct TTrackerOnPanel {
    QWidget panel;
    TRectTracker* tracker = new TRectTracker(&panel);
    TTrackerOnPanel() {
        panel.resize(400, 400);
        tracker->move(100, 100);
    }
};

TEST(RectTrackerTest, NewTrackerAndItsZones) {
    TRectTracker tracker;
    EXPECT_EQ(tracker.size(), QSize(65, 65));
    const struct {
        QPoint at;
        TRectTracker::TZone zone;
        Qt::CursorShape cursor;
    } cases[] = {
        {{0, 0}, TRectTracker::tzTopLeft, Qt::SizeFDiagCursor},
        {{64, 64}, TRectTracker::tzBottomRight, Qt::SizeFDiagCursor},
        {{4, 62}, TRectTracker::tzBottomLeft, Qt::SizeBDiagCursor},
        {{61, 3}, TRectTracker::tzTopRight, Qt::SizeBDiagCursor},
        {{2, 34}, TRectTracker::tzLeft, Qt::SizeHorCursor},
        {{63, 32}, TRectTracker::tzRight, Qt::SizeHorCursor},
        {{33, 1}, TRectTracker::tzTop, Qt::SizeVerCursor},
        {{36, 63}, TRectTracker::tzBottom, Qt::SizeVerCursor},
        {{30, 20}, TRectTracker::tzMove, Qt::SizeAllCursor},
        {{1, 20}, TRectTracker::tzNone, Qt::ArrowCursor}, // on the frame line, away from a handle
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tracker.ZoneAt(c.at), c.zone) << c.at.x() << "," << c.at.y();
        Send(tracker, QEvent::MouseMove, tracker.pos() + c.at, Qt::NoButton);
        EXPECT_EQ(tracker.cursor().shape(), c.cursor) << c.at.x() << "," << c.at.y();
    }
}

TEST(RectTrackerTest, DragTableWithTheMinimumSize) {
    const struct {
        const char* what;
        QRect start;
        QPoint from;
        int dx, dy;
        QRect expected;
    } cases[] = {
        {"right edge out", {100, 100, 65, 65}, {63, 33}, 20, 0, {100, 100, 85, 65}},
        {"right edge past the left one stops at 10",
         {100, 100, 65, 65},
         {63, 33},
         -70,
         0,
         {100, 100, 10, 65}},
        {"left edge out", {100, 100, 65, 65}, {1, 33}, -20, 0, {80, 100, 85, 65}},
        {"left edge past the right one stops at 10", {100, 100, 65, 65}, {1, 33}, 60, 0, {155, 100, 10, 65}},
        {"left edge in at width 10 does nothing", {100, 100, 10, 65}, {1, 33}, 4, 0, {100, 100, 10, 65}},
        {"left edge out at width 10 still works", {100, 100, 10, 65}, {1, 33}, -4, 0, {96, 100, 14, 65}},
        {"top edge in", {100, 100, 65, 65}, {33, 1}, 0, 20, {100, 120, 65, 45}},
        {"bottom edge in", {100, 100, 65, 65}, {33, 63}, 0, -10, {100, 100, 65, 55}},
        {"top-left out", {100, 100, 65, 65}, {1, 1}, -10, -10, {90, 90, 75, 75}},
        {"top-left with the height at 10 only moves left",
         {100, 100, 65, 10},
         {1, 1},
         -5,
         3,
         {95, 100, 70, 10}},
        {"top-right", {100, 100, 65, 65}, {63, 1}, 10, -10, {100, 90, 75, 75}},
        {"bottom-left", {100, 100, 65, 65}, {1, 63}, -10, 10, {90, 100, 75, 75}},
        {"bottom-right", {100, 100, 65, 65}, {63, 63}, 10, 5, {100, 100, 75, 70}},
        {"move", {100, 100, 65, 65}, {30, 20}, 15, -5, {115, 95, 65, 65}},
        {"outside the handles and the inside", {100, 100, 65, 65}, {1, 20}, 15, 15, {100, 100, 65, 65}},
    };
    for (const auto& c : cases) {
        TTrackerOnPanel on;
        on.tracker->setGeometry(c.start);
        Drag(*on.tracker, c.from, c.dx, c.dy);
        EXPECT_EQ(on.tracker->geometry(), c.expected) << c.what;
        EXPECT_EQ(on.tracker->DragMode(), TRectTracker::tzNone) << c.what;
    }
}

TEST(RectTrackerTest, ChangedOnlyWhenADragChangedTheBounds) {
    TTrackerOnPanel on;
    std::vector<QRect> changes;
    QObject::connect(on.tracker, &TRectTracker::Changed,
                     [&](const QRect& inner) { changes.push_back(inner); });
    Drag(*on.tracker, {30, 20}, 0, 0);
    EXPECT_TRUE(changes.empty()) << "a click without movement";
    Drag(*on.tracker, {30, 20}, 10, 0);
    ASSERT_EQ(changes.size(), 1u);
    // The inner rectangle in the parent's coordinates: left + 2, top + 2 to left + width − 2, top + height
    // − 2.
    EXPECT_EQ(changes[0], QRect(QPoint(112, 102), QPoint(173, 163)));
}

TEST(RectTrackerTest, AttachedControlFitsBothWays) {
    QWidget panel;
    panel.resize(500, 400);
    auto* control = new QWidget(&panel);
    control->setGeometry(20, 30, 320, 240);
    auto* tracker = new TRectTracker(&panel);
    panel.show(); // hidden widgets hold their move and resize events back until shown
    tracker->SetAcControl(control);
    EXPECT_EQ(tracker->geometry(), QRect(15, 25, 330, 250));
    EXPECT_EQ(control->geometry(), QRect(20, 30, 320, 240))
        << "fitting the tracker does not move the control";

    tracker->setGeometry(40, 50, 210, 110);
    EXPECT_EQ(control->geometry(), QRect(45, 55, 200, 100));

    control->setFixedSize(200, 100); // a control that cannot take other bounds is let go
    tracker->resize(300, 300);
    EXPECT_EQ(tracker->AcControl(), nullptr);

    tracker->SetAcControl(tracker);
    EXPECT_EQ(tracker->AcControl(), nullptr) << "the tracker itself means none";
}

} // namespace
} // namespace tarnel
