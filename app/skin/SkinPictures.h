// Tarnel's own pictures: button glyphs, catalogue icons, the splash picture and the file-list
// background. Everything is drawn with QPainter, so the pictures need no image files and stay sharp
// on high-density screens; tarnel-skin writes the few that are also shipped as files.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace tarnel::skin {

enum class TButtonPicture {
    Add,      // plus over a film strip
    Remove,   // minus
    Clear,    // broom / cross over a list
    Settings, // gear
    Edit,     // pencil
    Start,    // green round arrow / play-convert
    Previous,
    Play,
    Pause,
    Stop,
    Next,
    Snapshot, // camera
    DropArrow // the small arrow right of the profile field
};

// A button glyph of `size` × `size` logical pixels on a transparent background.
QPixmap ButtonPicture(TButtonPicture picture, int size);
// The large Start button at the bottom right of the main window (logical size 120 × 56).
QPixmap BigStartPicture();

// 20 × 20 icon of catalogue group 0..6: iPod, iPhone, Apple TV, QuickTime, video, audio, modern.
QPixmap GroupIcon(int group);
// 16 × 16 expand glyph of a catalogue header: false = collapsed (image 0), true = expanded (image 1).
QPixmap ExpandGlyph(bool expanded);
// 39 × 25 mute button pictures: false = sound on (picture 0), true = muted (picture 1).
QPixmap MutePicture(bool muted);
// 16 × 16 sharing button of service 0..6: Facebook, Google, Twitter, Delicious, Digg, Stumbleupon,
// Reddit (a letter on the service's colour, not its logo).
QPixmap ShareIcon(int service);

// Seek and volume bar pieces (the preview panel draws its bars from them).
QPixmap SeekTrack(int width);   // height 16
QPixmap SeekThumb();            // 13 × 23
QPixmap VolumeTrack(int width); // height 12
QPixmap VolumeThumb();          // 11 × 17
// 12 × 20 markers of the trim dialog's range bar.
QPixmap RangeMarker(bool start);

// 14 × 14 marker of a watermark layer in the watermark dialog's list: a "T" for a text layer
// (picture 0), a small landscape for a picture layer (picture 1).
QPixmap LayerKindPicture(bool image);

// The splash picture, 399 × 239.
QImage CoverPicture();
// The picture shown in the empty file list, drawn at its top-left corner.
QImage ListBackground(int width, int height);
// The application icon (window icon, desktop entry).
QIcon AppIcon();
QImage AppIconImage(int size);

} // namespace tarnel::skin
