// The preview window of a conversion: shows the latest preview bitmap with its picture counter and
// timestamp. The host installs a factory; the engine makes one window when it first previews into
// a window and frees it when the window switch is turned off.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace tarnel {

class TBitmap;

class TPreviewer {
public:
    TPreviewer() = default;
    virtual ~TPreviewer() = default;
    TPreviewer(const TPreviewer&) = delete;
    TPreviewer& operator=(const TPreviewer&) = delete;

    // Shows the bitmap; pts is the encoded picture's time in µs. False when it cannot be shown.
    // Called on the conversion's worker thread; the bitmap is valid only during the call.
    virtual bool Show(const TBitmap& bitmap, int32_t pictureCounter, int64_t pts) = 0;
};

using TPreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;

// Installs (or, with an empty factory, removes) the host's way of making preview windows.
void SetPreviewerFactory(TPreviewerFactory factory);
// A new window from the installed factory; null without a factory or when it makes none.
std::unique_ptr<TPreviewer> CreatePreviewer();

} // namespace tarnel
