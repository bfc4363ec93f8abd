// The black panel the preview player draws into: a native window of its own for SDL. While a file
// is open the player owns its pixels and Qt paints nothing there.
#pragma once

#include <QWidget>

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

} // namespace tarnel
