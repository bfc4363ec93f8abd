// A preview the dialog draws itself: a plain background with a picture fitted into it, kept in
// proportion and centred.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

namespace tarnel {

class TPictureView : public QWidget {
    Q_OBJECT
public:
    explicit TPictureView(const QColor& background, QWidget* parent = nullptr);
    // Shows `picture` (copied); a null image leaves only the background.
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }
    // Where the picture shows, in the view's coordinates (empty without a picture).
    QRect PictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor background_;
    QImage picture_;
};

} // namespace tarnel
