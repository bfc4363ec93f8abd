// The watermark dialog's layered picture view: a checkerboard, the current picture fitted and
// centred over it, and text or picture layers placed in the picture's own pixels. One layer at a
// time carries a selection frame whose handles move and resize it.
#pragma once

#include <QFont>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QImage>
#include <functional>
#include <optional>
#include <vector>

namespace tarnel {

// A layer of the view: a picture, or a text with its font, colour and optional background box.
// Both are stretched over the layer's location (picture coordinates).
class TLayerItem : public QGraphicsItem {
public:
    QRectF boundingRect() const override { return location_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    QRectF Location() const { return location_; }
    void SetLocation(const QRectF& location);
    // 0 (invisible) … 255 (opaque).
    int MasterOpacity() const { return masterOpacity_; }
    void SetMasterOpacity(int opacity);

    void SetPicture(const QImage& picture);
    // `natural` is the size the text takes in the font; the text is scaled when the location differs.
    void SetText(const QString& text, const QFont& font, const QColor& color,
                 std::optional<QColor> background, const QSizeF& natural);
    const QImage& Picture() const { return picture_; }

private:
    QRectF location_;
    int masterOpacity_ = 255;
    QImage picture_;
    QString text_;
    QFont font_;
    QColor color_;
    std::optional<QColor> background_;
    QSizeF natural_;
};

class TLayerView : public QGraphicsView {
    Q_OBJECT
public:
    static constexpr int kCheckerSquare = 13;
    static constexpr qreal kMinimumHalfSize = 2.0;

    explicit TLayerView(QWidget* parent = nullptr);
    ~TLayerView() override;

    // The picture under the layers; its size sets the picture coordinates.
    void SetBackground(const QImage& picture);
    const QImage& Background() const { return background_; }
    // Picture coordinates before the first picture arrives.
    void SetPictureSize(const QSize& size);
    QSize PictureSize() const { return pictureSize_; }

    TLayerItem* AddLayer();
    void RemoveLayer(TLayerItem* layer);
    void RemoveAllLayers();
    const std::vector<TLayerItem*>& Layers() const { return layers_; }
    int LayerIndex(const TLayerItem* layer) const;
    // Moves the layer to `index` in the stacking order (0 is at the bottom).
    void SetLayerIndex(TLayerItem* layer, int index);

    // The layer with the selection frame (null for none).
    TLayerItem* Selected() const { return selected_; }
    void Select(TLayerItem* layer);
    // Keeps the selection frame on the selected layer after its location changed.
    void UpdateSelectionFrame();

    QPointF ViewToBitmap(const QPoint& point) const { return mapToScene(point); }
    QPoint BitmapToView(const QPointF& point) const { return mapFromScene(point); }
    // The picture point in the middle of what the view shows.
    QPointF VisibleCentre() const;

    // Handle under a view point: 0..7 the eight handles, 8 inside the frame, -1 none.
    int HandleAt(const QPoint& point) const;
    // Drags what lies under `from` to `to` (view coordinates), as a press, a move and a release would.
    void DragFromTo(const QPoint& from, const QPoint& to);

signals:
    // A press on a visible layer (before it is dragged).
    void LayerPressed(TLayerItem& layer);
    // The selected layer while the selection frame moves or resizes it.
    void LayerDragged(TLayerItem& layer);
    // Any mouse move over the view.
    void MouseMoved();

protected:
    void drawBackground(QPainter* painter, const QRectF& rect) override;
    void drawForeground(QPainter* painter, const QRectF& rect) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void FitPicture();
    QRectF FrameRect() const; // the selected layer's location in view coordinates
    QRectF HandleRect(int handle) const;
    void Press(const QPoint& point);
    void DragTo(const QPoint& point);
    void Release();
    void ShowCursorFor(int handle);

    QGraphicsScene scene_;
    QImage background_;
    QSize pictureSize_;
    std::vector<TLayerItem*> layers_;
    TLayerItem* selected_ = nullptr;
    int dragHandle_ = -1;
    QPointF dragStart_; // picture coordinates
    QRectF dragLocation_;
};

} // namespace tarnel
