#include "DialogBars.h"

#include "TrackBar2.h"
#include "core/ProgressEstimate.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <cmath>

namespace tarnel {

namespace {

const QColor kBarBackground(32, 75, 139);
const QColor kPlayed(118, 152, 202);
const QColor kRest(36, 75, 123);

QLabel* NewCaption(QDialog& dialog, const QString& caption) {
    auto* title = new QLabel(caption, &dialog);
    title->setObjectName("lblCaption");
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    title->setFont(bold);
    return title;
}

QToolButton* NewCloseButton(QDialog& dialog) {
    auto* close = new QToolButton(&dialog);
    close->setObjectName("btnClose");
    close->setText("✕");
    close->setToolTip("Close");
    close->setAutoRaise(true);
    QObject::connect(close, &QToolButton::clicked, &dialog, &QDialog::reject);
    return close;
}

} // namespace

void MakeTitleHeader(QDialog& dialog, const QString& caption, int left) {
    NewCaption(dialog, caption)->setGeometry(left, 8, 200, 24);
    NewCloseButton(dialog)->setGeometry(dialog.width() - 40, 6, 28, 26);
}

QHBoxLayout* MakeTitleRow(QDialog& dialog, const QString& caption) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(NewCaption(dialog, caption));
    row->addStretch(1);
    QToolButton* close = NewCloseButton(dialog);
    close->setMinimumSize(28, 26);
    row->addWidget(close);
    return row;
}

QToolButton* MakeImageButton(QWidget* parent, const char* name, const char* hint,
                             skin::TButtonPicture picture, int x, int y) {
    QToolButton* button = MakeImageButton(parent, name, hint, picture);
    button->setGeometry(x, y, 34, 32);
    return button;
}

QToolButton* MakeImageButton(QWidget* parent, const char* name, const char* hint,
                             skin::TButtonPicture picture) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setToolTip(hint);
    button->setIcon(skin::ButtonPicture(picture, 24));
    button->setIconSize(QSize(24, 24));
    button->setAutoRaise(true);
    button->setMinimumSize(34, 32);
    return button;
}

void MakeHostDrawnBar(TTrackBar2& bar, TTrackDrawing track) {
    bar.SetThumbStyle(TTrackBar2::tsUserDrawn); // drawn with the track
    bar.SetTrackStyle(TTrackBar2::trUserDrawn);
    bar.SetTickStyle(TTrackBar2::tiUserDrawn);
    bar.setFocusPolicy(Qt::NoFocus);
    if (track == TTrackDrawing::PlayerBar)
        QObject::connect(&bar, &TTrackBar2::DrawingTrack, &bar,
                         [&bar](QPainter& painter) { DrawPlayerBar(bar, painter); });
}

void DrawPlayerBar(TTrackBar2& bar, QPainter& painter) {
    painter.fillRect(bar.rect(), kBarBackground);
    painter.drawPixmap(1, (bar.height() - 16) / 2, skin::SeekTrack(bar.width() - 2));
    const int span = bar.Max() - bar.Min();
    const double share = span > 0 ? static_cast<double>(bar.PositionL() - bar.Min()) / span : 0;
    const QPixmap thumb = skin::SeekThumb().scaledToHeight(bar.height(), Qt::SmoothTransformation);
    const int thumbWidth = static_cast<int>(thumb.width() / thumb.devicePixelRatio());
    const int x = static_cast<int>(std::lround(share * (bar.width() - thumbWidth)));
    const int middle = bar.height() / 2;
    if (x + thumbWidth / 2 > 5)
        painter.fillRect(QRect(QPoint(5, middle - 2), QPoint(x + thumbWidth / 2, middle + 1)), kPlayed);
    if (bar.width() - 5 > x + thumbWidth / 2)
        painter.fillRect(QRect(QPoint(x + thumbWidth / 2, middle - 2), QPoint(bar.width() - 5, middle + 1)),
                         kRest);
    painter.drawPixmap(x, 0, thumb);
}

int BarPositionAt(const TTrackBar2& bar, int x, double span) {
    if (span <= 0)
        return bar.PositionL();
    return static_cast<int>(std::lround(x / span * bar.Max()));
}

QString ClockText(int64_t seconds) {
    return QString::fromStdString(SecondsToClock(seconds));
}

QString PlayedClockText(int64_t seconds) {
    return ClockText(seconds) + " / ";
}

QHBoxLayout* MakeTransportRow(QToolButton* play, QToolButton* pause, QToolButton* stop, QLabel* time,
                              QLabel* duration) {
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->addWidget(play);
    row->addSpacing(4);
    row->addWidget(pause);
    row->addSpacing(4);
    row->addWidget(stop);
    row->addSpacing(6);
    row->addWidget(time);
    row->addWidget(duration);
    row->addStretch(1);
    return row;
}

QHBoxLayout* MakeButtonRow(QPushButton* defaults, QPushButton* ok, QPushButton* cancel) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(defaults);
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    for (QPushButton* button : {defaults, ok, cancel})
        button->setMinimumSize(88, 28);
    return row;
}

} // namespace tarnel
