#include "FrameHookRenderer.h"

#include "base/Bitmap.h"
#include "core/FilesRecord.h"
#include "core/PictureAdjustment.h"
#include "core/WatermarkLayers.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace tarnel {

namespace {

QColor ToQColor(TColor color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

// An image that draws straight into the bitmap's pixels.
QImage Wrap(TBitmap& bitmap) {
    return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.RowSize(), QImage::Format_BGR888);
}

// The frame's pixels under the rectangle at (left, top); what lies outside the frame stays 0.
void CopyFromFrame(const TBitmap& frame, TBitmap& target, int32_t left, int32_t top) {
    for (int y = 0; y < target.Height(); ++y) {
        const int64_t frameY = static_cast<int64_t>(top) + y;
        if (frameY < 0 || frameY >= frame.Height())
            continue;
        for (int x = 0; x < target.Width(); ++x) {
            const int64_t frameX = static_cast<int64_t>(left) + x;
            if (frameX < 0 || frameX >= frame.Width())
                continue;
            const uint8_t* source = frame.ScanLine(static_cast<int>(frameY)) + frameX * 3;
            uint8_t* pixel = target.ScanLine(y) + x * 3;
            pixel[0] = source[0];
            pixel[1] = source[1];
            pixel[2] = source[2];
        }
    }
}

// A picture's colours, unpremultiplied, as 24-bit BGR, and its alpha as coverage bytes; the
// colours of transparent pixels are kept as they are, since the blend weighs them by coverage.
void SplitAlpha(const QImage& picture, QImage& colours, std::vector<uint8_t>& coverage) {
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    const int width = rgba.width();
    colours = QImage(rgba.size(), QImage::Format_BGR888);
    coverage.resize(static_cast<size_t>(width) * static_cast<size_t>(rgba.height()));
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar* source = rgba.constScanLine(y);
        uchar* target = colours.scanLine(y);
        uint8_t* cover = coverage.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x, source += 4, target += 3) {
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
            cover[x] = source[3];
        }
    }
}

} // namespace

TFrameHookRenderer::TFrameHookRenderer(std::function<void(const std::string&)> warn)
    : warn_(std::move(warn)) {}

QFont TFrameHookRenderer::LayerFont(const TFontSpec& spec, bool antialiased) {
    QFont font(QString::fromStdString(spec.Name));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(spec.Size * 96.0 / 72.0))));
    font.setBold(spec.Bold);
    font.setItalic(spec.Italic);
    font.setUnderline(spec.Underline);
    font.setStrikeOut(spec.StrikeOut);
    if (!antialiased)
        font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

QSize TFrameHookRenderer::TextExtent(const TFontSpec& font, const std::string& text) {
    const QFontMetrics metrics(LayerFont(font));
    return {metrics.horizontalAdvance(QString::fromStdString(text)), metrics.height()};
}

void TFrameHookRenderer::Reset() {
    std::lock_guard lock(mutex_);
    pictures_.clear();
    reported_.clear();
}

void TFrameHookRenderer::Render(TBitmap& frame, const TlvFilesRecord& row, int64_t pts) {
    AdjustPicture(frame, {row.Brightness, row.Contrast, row.Saturation, row.Exposure});
    for (const auto& layer : row.WaterMarks) {
        if (!layer || !LayerShowsAt(*layer, pts))
            continue;
        if (layer->Kind == 0 && !layer->Text.empty())
            DrawText(frame, *layer);
        else if (layer->Kind == 1 && !layer->ImageFile.empty())
            DrawImage(frame, *layer);
    }
}

// Only the part of the layer that falls on the frame is drawn: a long text may be far wider than
// the picture, and what lies outside would be clipped by the blend anyway.
void TFrameHookRenderer::DrawText(TBitmap& frame, const TWmRec& layer) {
    if (layer.TextWidth <= 0 || layer.TextHeight <= 0)
        return;
    const int64_t left = std::max<int64_t>(layer.TextLeft, 0);
    const int64_t top = std::max<int64_t>(layer.TextTop, 0);
    const int64_t right =
        std::min<int64_t>(static_cast<int64_t>(layer.TextLeft) + layer.TextWidth, frame.Width());
    const int64_t bottom =
        std::min<int64_t>(static_cast<int64_t>(layer.TextTop) + layer.TextHeight, frame.Height());
    if (right <= left || bottom <= top)
        return;
    TBitmap bitmap(static_cast<int>(right - left), static_cast<int>(bottom - top));
    std::lock_guard canvas(bitmap.CanvasLock());
    QImage image = Wrap(bitmap);
    if (!layer.BackOpaque)
        CopyFromFrame(frame, bitmap, static_cast<int32_t>(left), static_cast<int32_t>(top));
    {
        QPainter painter(&image);
        painter.translate(static_cast<qreal>(layer.TextLeft - left), static_cast<qreal>(layer.TextTop - top));
        const QRect layerRect(0, 0, layer.TextWidth, layer.TextHeight);
        painter.setFont(LayerFont(layer.Font));
        painter.setPen(ToQColor(layer.Font.Color));
        if (layer.BackOpaque) {
            painter.fillRect(layerRect, ToQColor(layer.BackColor));
            painter.setBackgroundMode(Qt::OpaqueMode);
            painter.setBackground(ToQColor(layer.BackColor));
        }
        painter.drawText(layerRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         QString::fromStdString(layer.Text));
    }
    BlendOverlay(frame, bitmap, static_cast<int32_t>(left), static_cast<int32_t>(top), layer.TextAlpha);
}

std::shared_ptr<const TFrameHookRenderer::TLayerPicture>
TFrameHookRenderer::Picture(const std::string& file) {
    struct stat st {};
    const bool exists = ::stat(file.c_str(), &st) == 0;
    std::lock_guard lock(mutex_);
    auto found = pictures_.find(file);
    if (exists && found != pictures_.end() && found->second.Modified == st.st_mtime &&
        found->second.Size == static_cast<int64_t>(st.st_size))
        return found->second.Picture;
    QImage picture;
    if (!exists || !picture.load(QString::fromStdString(file))) {
        pictures_.erase(file);
        if (!reported_[file] && warn_) {
            reported_[file] = true;
            warn_("Cannot read the watermark picture " + file + "; the layer is left out");
        }
        return {};
    }
    TCachedPicture& cached = pictures_[file];
    auto layerPicture = std::make_shared<TLayerPicture>();
    if (picture.hasAlphaChannel())
        SplitAlpha(picture, layerPicture->Colours, layerPicture->Coverage);
    else
        layerPicture->Colours = picture.convertToFormat(QImage::Format_BGR888);
    cached.Picture = std::move(layerPicture);
    cached.Modified = st.st_mtime;
    cached.Size = static_cast<int64_t>(st.st_size);
    return cached.Picture;
}

void TFrameHookRenderer::DrawImage(TBitmap& frame, const TWmRec& layer) {
    const std::shared_ptr<const TLayerPicture> picture = Picture(layer.ImageFile);
    if (!picture)
        return;
    const QImage& colours = picture->Colours;
    TBitmap bitmap(colours.width(), colours.height());
    std::lock_guard canvas(bitmap.CanvasLock());
    for (int y = 0; y < colours.height(); ++y)
        std::memcpy(bitmap.ScanLine(y), colours.constScanLine(y), static_cast<size_t>(colours.width()) * 3);
    if (picture->Coverage.empty())
        BlendOverlay(frame, bitmap, layer.ImageLeft, layer.ImageTop, layer.ImageAlpha);
    else
        BlendOverlay(frame, bitmap, picture->Coverage, layer.ImageLeft, layer.ImageTop, layer.ImageAlpha);
}

} // namespace tarnel
