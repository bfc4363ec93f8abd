// Pieces the trim, crop and watermark dialogs share: the title header, image buttons and their
// host-drawn preview and volume bars (background, track picture, played part, rest, thumb picture).
#pragma once

#include "skin/SkinPictures.h"

#include <QString>
#include <cstdint>

class QDialog;
class QPushButton;
class QLabel;
class QHBoxLayout;
class QPainter;
class QToolButton;
class QWidget;

namespace tarnel {

class TTrackBar2;

// The caption in a larger bold font at `left` and a close button at the top right that rejects
// the dialog; the dialog has its size already.
void MakeTitleHeader(QDialog& dialog, const QString& caption, int left);
QToolButton* MakeImageButton(QWidget* parent, const char* name, const char* hint,
                             skin::TButtonPicture picture, int x, int y);
// For dialogs built with layouts: the same caption and close button in a row the host places, and
// an image button of the same size for a layout.
QHBoxLayout* MakeTitleRow(QDialog& dialog, const QString& caption);
QToolButton* MakeImageButton(QWidget* parent, const char* name, const char* hint,
                             skin::TButtonPicture picture);
// A bar whose thumb, track and ticks the host draws and whose mouse handling the host takes over.
// The track is drawn by DrawPlayerBar unless the host draws it itself.
enum class TTrackDrawing { PlayerBar, ByHost };
void MakeHostDrawnBar(TTrackBar2& bar, TTrackDrawing track = TTrackDrawing::PlayerBar);
// The bar with its thumb picture at the position.
void DrawPlayerBar(TTrackBar2& bar, QPainter& painter);
// The position for a drag to `x` over a bar of `span` usable pixels: x / span × maximum, rounded.
int BarPositionAt(const TTrackBar2& bar, int x, double span);
// Play, Pause and Stop with the time labels after them, then a stretch: the start of the preview
// row that the host continues with its own controls.
QHBoxLayout* MakeTransportRow(QToolButton* play, QToolButton* pause, QToolButton* stop, QLabel* time,
                              QLabel* duration);
// "&Default" at the left, "Ok" and "Cancel" at the right, all of one least size.
QHBoxLayout* MakeButtonRow(QPushButton* defaults, QPushButton* ok, QPushButton* cancel);
// Whole seconds as H:MM:SS.
QString ClockText(int64_t seconds);
// The played time as it stands before the length: "H:MM:SS / ".
QString PlayedClockText(int64_t seconds);

} // namespace tarnel
