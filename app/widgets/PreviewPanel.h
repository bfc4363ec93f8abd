// The black panel the preview player draws into: a native window of its own for SDL. While a file
// is open the player owns its pixels and Qt paints nothing there.
#pragma once

#include <QWidget>
#include <cstdint>

namespace tarnel {

class TPreviewPanel : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewPanel(QWidget* parent = nullptr);
    void SetPlayerOwnsPicture(bool owns);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool playerOwnsPicture_ = false;
};

// The native window of `panel` for the player to draw into. Only X11 lets SDL draw into another
// program's window; elsewhere 0, and the player opens a window of its own.
uintptr_t PlayerWindowHandle(QWidget& panel);

} // namespace tarnel
