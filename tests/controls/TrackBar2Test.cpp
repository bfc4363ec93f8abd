// The two-thumb track bar: setters, change events, geometry, mouse and keys.
#include "TrackBar2.h"

#include <QSignalBlocker>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace tarnel {
namespace {

struct TCounted {
    TTrackBar2 bar;
    int changes = 0;
    TCounted() {
        QObject::connect(&bar, &TTrackBar2::Changed, [this] { ++changes; });
    }
};

TEST(TrackBar2Test, StartsWithItsDesignedValues) {
    TTrackBar2 bar;
    EXPECT_EQ(bar.size(), QSize(500, 50));
    EXPECT_EQ(bar.Min(), 0);
    EXPECT_EQ(bar.Max(), 20);
    EXPECT_EQ(bar.PositionL(), 0);
    EXPECT_EQ(bar.PositionU(), 10);
    EXPECT_FALSE(bar.SecondThumb());
    EXPECT_EQ(bar.Orientation(), TTrackBar2::toHorizontal);
    EXPECT_EQ(bar.ThumbStyle(), TTrackBar2::tsRaisedRectangle);
    EXPECT_EQ(bar.TrackStyle(), TTrackBar2::trLowered);
    EXPECT_EQ(bar.TickStyle(), TTrackBar2::tiRaisedSquare);
    EXPECT_EQ(bar.focusPolicy(), Qt::StrongFocus);
}

TEST(TrackBar2Test, SettersClampAndReportEveryEffectiveChange) {
    struct TCase {
        bool secondThumb;
        int lower, upper; // set in this order
        int expectedLower, expectedUpper;
        int changes;
    };
    const TCase cases[] = {
        {false, 25, 10, 20, 10, 1}, // above Max: Max; the upper position is unchanged
        {false, -3, 10, 0, 10, 0},  // below Min: Min, which it already was
        {true, 10, 10, 9, 10, 1},   // PositionL onto PositionU: one below; PositionU unchanged: no effect
        {true, 15, 30, 9, 20, 2},   // with two thumbs the lower stays below the upper
        {true, 4, 4, 4, 5, 2},      // PositionU onto PositionL: one above
    };
    for (const TCase& c : cases) {
        TCounted counted;
        counted.bar.SetSecondThumb(c.secondThumb);
        counted.bar.SetPositionL(c.lower);
        counted.bar.SetPositionU(c.upper);
        EXPECT_EQ(counted.bar.PositionL(), c.expectedLower) << c.lower << " " << c.upper;
        EXPECT_EQ(counted.bar.PositionU(), c.expectedUpper) << c.lower << " " << c.upper;
        EXPECT_EQ(counted.changes, c.changes) << c.lower << " " << c.upper;
    }
}

TEST(TrackBar2Test, RangeChangesMovePositionsWithoutReportingThem) {
    TCounted counted;
    counted.bar.SetPositionL(15);
    counted.changes = 0;
    counted.bar.SetMax(8);
    EXPECT_EQ(counted.bar.PositionU(), 8);
    EXPECT_EQ(counted.bar.PositionL(), 15) << "Max pulls PositionU down and leaves PositionL";
    counted.bar.SetMin(16);
    EXPECT_EQ(counted.bar.PositionL(), 16);
    EXPECT_EQ(counted.changes, 0);
}

TEST(TrackBar2Test, GeometryOfAHorizontalBar) {
    TTrackBar2 bar; // 500 × 50, ThumbSize 20, rectangle thumbs 10 × 20
    EXPECT_EQ(bar.TrackLength(), 480);
    EXPECT_EQ(bar.TrackRect(), QRect(QPoint(10, 20), QPoint(490, 30)));
    const std::pair<int, QRect> boxes[] = {
        {0, QRect(5, 15, 10, 20)}, {10, QRect(245, 15, 10, 20)}, {20, QRect(485, 15, 10, 20)}};
    for (const auto& [position, box] : boxes)
        EXPECT_EQ(bar.ThumbBox(position), box) << position;
    EXPECT_EQ(bar.PositionAt(245), 10);
    EXPECT_EQ(bar.PositionAt(5), 0);
    bar.SetThumbStyle(TTrackBar2::tsUserDrawn);
    EXPECT_EQ(bar.ThumbBox(0), QRect(0, 15, 20, 20));
}

TEST(TrackBar2Test, ShapeDecidesTheOrientation) {
    TTrackBar2 bar;
    bar.show();
    bar.resize(50, 500);
    EXPECT_EQ(bar.Orientation(), TTrackBar2::toVertical);
    bar.SetOrientation(TTrackBar2::toHorizontal);
    EXPECT_EQ(bar.size(), QSize(500, 50));
    bar.resize(40, 40);
    EXPECT_EQ(bar.Orientation(), TTrackBar2::toHorizontal) << "a square keeps it";
}

TEST(TrackBar2Test, MouseJumpsStepsAndDrags) {
    TCounted counted;
    TTrackBar2& bar = counted.bar;
    bar.show();
    bar.grab(); // the thumbs' hit rectangles are where they were drawn
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(245, 25)); // jump to 10
    EXPECT_EQ(bar.PositionL(), 10);
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(400, 25));
    EXPECT_EQ(bar.PositionL(), 11) << "Shift beyond the thumb: one SmallChange up";
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(30, 25));
    EXPECT_EQ(bar.PositionL(), 10);
    bar.grab();
    // A press on the thumb drags it.
    QTest::mousePress(&bar, Qt::LeftButton, {}, bar.ThumbBox(10).center());
    EXPECT_TRUE(bar.TrackingL());
    QTest::mouseMove(&bar, QPoint(485, 25));
    EXPECT_EQ(bar.PositionL(), 20);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(485, 25));
    EXPECT_FALSE(bar.TrackingL());

    // Host-drawn thumbs have no hit rectangle: a click jumps but never starts a drag.
    bar.SetThumbStyle(TTrackBar2::tsUserDrawn);
    bar.grab();
    QTest::mousePress(&bar, Qt::LeftButton, {}, bar.ThumbBox(20).center());
    EXPECT_FALSE(bar.TrackingL());
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, bar.ThumbBox(20).center());
}

TEST(TrackBar2Test, PressesBeyondTheMiddleMoveTheUpperThumb) {
    TTrackBar2 bar;
    bar.SetSecondThumb(true);
    bar.SetPositionL(4);
    bar.SetPositionU(12);
    bar.show();
    bar.grab();
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(bar.ThumbBox(16).center().x(), 25));
    EXPECT_EQ(bar.PositionU(), 16);
    EXPECT_EQ(bar.PositionL(), 4);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(bar.ThumbBox(2).center().x(), 25));
    EXPECT_EQ(bar.PositionL(), 2);
}

TEST(TrackBar2Test, KeysStepTheThumbs) {
    TTrackBar2 bar;
    bar.SetSecondThumb(true);
    bar.show();
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int lower, upper;
    } steps[] = {{Qt::Key_Right, {}, 1, 10},
                 {Qt::Key_PageUp, {}, 3, 10},
                 {Qt::Key_Down, {}, 2, 10},
                 {Qt::Key_PageDown, Qt::ShiftModifier, 2, 8},
                 {Qt::Key_Up, Qt::ShiftModifier, 2, 9},
                 {Qt::Key_Left, {}, 1, 9}};
    for (const auto& step : steps) {
        QTest::keyClick(&bar, step.key, step.modifiers);
        EXPECT_EQ(bar.PositionL(), step.lower) << step.key;
        EXPECT_EQ(bar.PositionU(), step.upper) << step.key;
    }
}

TEST(TrackBar2Test, HostDrawingIsCalledForEachPart) {
    TTrackBar2 bar;
    bar.SetTrackStyle(TTrackBar2::trUserDrawn);
    bar.SetThumbStyle(TTrackBar2::tsUserDrawn);
    bar.SetTickStyle(TTrackBar2::tiUserDrawn);
    bar.SetTickInterval(5);
    int paints = 0, tracks = 0, ticks = 0;
    std::vector<QPoint> thumbs;
    QObject::connect(&bar, &TTrackBar2::Painting, [&](QPainter&) { ++paints; });
    QObject::connect(&bar, &TTrackBar2::DrawingTrack, [&](QPainter&) { ++tracks; });
    QObject::connect(&bar, &TTrackBar2::DrawingTick, [&](QPainter&, int, int, int) { ++ticks; });
    QObject::connect(&bar, &TTrackBar2::DrawingThumb,
                     [&](QPainter&, int x, int y) { thumbs.emplace_back(x, y); });
    bar.grab();
    EXPECT_EQ(paints, 1);
    EXPECT_EQ(tracks, 1);
    EXPECT_EQ(ticks, 10) << "positions 0, 5, 10, 15, 20 on both sides";
    EXPECT_EQ(thumbs, std::vector<QPoint>{QPoint(0, 15)});
}

// Changes are signals: every listener hears them, and a blocked bar tells none.
TEST(TrackBar2Test, EveryListenerHearsAChangeUnlessBlocked) {
    TTrackBar2 bar;
    int first = 0, second = 0;
    QObject::connect(&bar, &TTrackBar2::Changed, [&] { ++first; });
    QObject::connect(&bar, &TTrackBar2::Changed, [&] { ++second; });
    bar.SetPositionL(5);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    {
        const QSignalBlocker quiet(&bar);
        bar.SetPositionL(7);
    }
    EXPECT_EQ(bar.PositionL(), 7);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

} // namespace
} // namespace tarnel
