// What the frame hook draws into each decoded picture of a row's task: the row's picture settings
// and its watermark layers that belong to the picture's second. Drawn with QtGui on images that
// wrap the pictures' memory; it runs on the conversion thread.
#pragma once

#include <QFont>
#include <QImage>
#include <QSize>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarnel {

class TBitmap;
class TWmRec;
struct TFontSpec;
struct TlvFilesRecord;

class TFrameHookRenderer {
public:
    // `warn` receives one message per picture file that cannot be read (the layer is left out).
    explicit TFrameHookRenderer(std::function<void(const std::string&)> warn = {});

    // Draws the picture settings and the layers of `row` into `frame` for the picture at `pts` (µs).
    void Render(TBitmap& frame, const TlvFilesRecord& row, int64_t pts);

    // Forgets which picture files were reported and the pictures read (a new run).
    void Reset();

    // The size a text layer's text takes in its font, as the watermark dialog measures it.
    static QSize TextExtent(const TFontSpec& font, const std::string& text);
    // A text layer's font; sizes are points at 96 dots per inch. The conversion draws without
    // anti-aliasing, the watermark dialog's preview with it.
    static QFont LayerFont(const TFontSpec& spec, bool antialiased = false);

private:
    void DrawText(TBitmap& frame, const TWmRec& layer);
    void DrawImage(TBitmap& frame, const TWmRec& layer);
    // A picture file's colours as 24-bit BGR and, when it has an alpha channel, its alpha as one
    // coverage byte per pixel (rows of the picture's width); empty for an opaque picture.
    struct TLayerPicture {
        QImage Colours;
        std::vector<uint8_t> Coverage;
    };
    // The file's picture (null when it cannot be read); read again whenever the file changes on
    // disk. Shared, so that a task drawing it keeps it while another reads the file again.
    std::shared_ptr<const TLayerPicture> Picture(const std::string& file);

    struct TCachedPicture {
        std::shared_ptr<const TLayerPicture> Picture;
        std::time_t Modified = 0;
        int64_t Size = -1;
    };
    std::function<void(const std::string&)> warn_;
    std::mutex mutex_; // guards pictures_ and reported_ (tasks may run side by side)
    std::map<std::string, TCachedPicture> pictures_;
    std::map<std::string, bool> reported_;
};

} // namespace tarnel
