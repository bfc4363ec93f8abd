#include "LayerView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace tarnel {

namespace {

constexpr qreal kHandleSize = 7.0;
constexpr int kInside = 8;
const QColor kCheckerGrey(176, 176, 176);

// Handle order: left, right, top, bottom, top-left, top-right, bottom-left, bottom-right.
QPointF HandleCentre(const QRectF& frame, int handle) {
    const qreal midX = frame.center().x();
    const qreal midY = frame.center().y();
    switch (handle) {
    case 0:
        return {frame.left(), midY};
    case 1:
        return {frame.right(), midY};
    case 2:
        return {midX, frame.top()};
    case 3:
        return {midX, frame.bottom()};
    case 4:
        return frame.topLeft();
    case 5:
        return frame.topRight();
    case 6:
        return frame.bottomLeft();
    default:
        return frame.bottomRight();
    }
}

} // namespace

// --- Layers ----------------------------------------------------------------------------------------

void TLayerItem::SetLocation(const QRectF& location) {
    prepareGeometryChange();
    location_ = location.normalized();
}

void TLayerItem::SetMasterOpacity(int opacity) {
    masterOpacity_ = std::clamp(opacity, 0, 255);
    setOpacity(masterOpacity_ / 255.0);
}

void TLayerItem::SetPicture(const QImage& picture) {
    picture_ = picture;
    text_.clear();
    update();
}

void TLayerItem::SetText(const QString& text, const QFont& font, const QColor& color,
                         std::optional<QColor> background, const QSizeF& natural) {
    picture_ = {};
    text_ = text;
    font_ = font;
    color_ = color;
    background_ = background;
    natural_ = natural;
    update();
}

void TLayerItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (location_.isEmpty())
        return;
    if (!picture_.isNull()) {
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(location_, picture_);
        return;
    }
    if (background_)
        painter->fillRect(location_, *background_);
    if (text_.isEmpty() || natural_.width() <= 0 || natural_.height() <= 0)
        return;
    // The text is drawn straight from the font rather than through a bitmap of its own, so a very
    // long text costs no memory beyond what shows.
    painter->save();
    painter->setClipRect(location_);
    painter->translate(location_.topLeft());
    painter->scale(location_.width() / natural_.width(), location_.height() / natural_.height());
    painter->setRenderHint(QPainter::TextAntialiasing);
    painter->setFont(font_);
    painter->setPen(color_);
    painter->drawText(QRectF(QPointF(0, 0), natural_), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      text_);
    painter->restore();
}

// --- The view --------------------------------------------------------------------------------------------

TLayerView::TLayerView(QWidget* parent)
    : QGraphicsView(parent) {
    setScene(&scene_);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAlignment(Qt::AlignCenter);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
    setCacheMode(QGraphicsView::CacheNone);
    setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    setMouseTracking(true);
    SetPictureSize({});
}

TLayerView::~TLayerView() {
    RemoveAllLayers();
}

void TLayerView::SetPictureSize(const QSize& size) {
    pictureSize_ = size.isValid() && !size.isEmpty() ? size : QSize(1, 1);
    scene_.setSceneRect(0, 0, pictureSize_.width(), pictureSize_.height());
    FitPicture();
}

void TLayerView::SetBackground(const QImage& picture) {
    background_ = picture;
    if (!picture.isNull() && picture.size() != pictureSize_)
        SetPictureSize(picture.size());
    viewport()->update();
}

// Scaled to fit the view, keeping its proportions, and centred.
void TLayerView::FitPicture() {
    const qreal scale = std::min(viewport()->width() / static_cast<qreal>(pictureSize_.width()),
                                 viewport()->height() / static_cast<qreal>(pictureSize_.height()));
    if (scale <= 0)
        return;
    const qreal dx = (viewport()->width() - pictureSize_.width() * scale) / 2.0;
    const qreal dy = (viewport()->height() - pictureSize_.height() * scale) / 2.0;
    setTransform(QTransform::fromScale(scale, scale));
    // The scene rect then spans the whole viewport so that nothing scrolls.
    setSceneRect(-dx / scale, -dy / scale, viewport()->width() / scale, viewport()->height() / scale);
    horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
    viewport()->update();
}

void TLayerView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    FitPicture();
}

QPointF TLayerView::VisibleCentre() const {
    return mapToScene(viewport()->rect().center());
}

void TLayerView::drawBackground(QPainter* painter, const QRectF&) {
    painter->save();
    painter->resetTransform();
    const QRect area = viewport()->rect();
    painter->fillRect(area, Qt::white);
    for (int j = 0; j * kCheckerSquare < area.height(); ++j)
        for (int i = j % 2; i * kCheckerSquare < area.width(); i += 2)
            painter->fillRect(i * kCheckerSquare, j * kCheckerSquare, kCheckerSquare, kCheckerSquare,
                              kCheckerGrey);
    painter->restore();
    if (!background_.isNull()) {
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(QRectF(QPointF(0, 0), QSizeF(pictureSize_)), background_);
    }
}

// --- Layers and their order -------------------------------------------------------------------------

TLayerItem* TLayerView::AddLayer() {
    auto* layer = new TLayerItem;
    layer->setZValue(static_cast<qreal>(layers_.size()));
    scene_.addItem(layer);
    layers_.push_back(layer);
    return layer;
}

void TLayerView::RemoveLayer(TLayerItem* layer) {
    const auto found = std::find(layers_.begin(), layers_.end(), layer);
    if (found == layers_.end())
        return;
    if (selected_ == layer)
        Select(nullptr);
    layers_.erase(found);
    scene_.removeItem(layer);
    delete layer;
    for (size_t i = 0; i < layers_.size(); ++i)
        layers_[i]->setZValue(static_cast<qreal>(i));
}

void TLayerView::RemoveAllLayers() {
    Select(nullptr);
    for (TLayerItem* layer : layers_) {
        scene_.removeItem(layer);
        delete layer;
    }
    layers_.clear();
}

int TLayerView::LayerIndex(const TLayerItem* layer) const {
    const auto found = std::find(layers_.begin(), layers_.end(), layer);
    return found == layers_.end() ? -1 : static_cast<int>(found - layers_.begin());
}

void TLayerView::SetLayerIndex(TLayerItem* layer, int index) {
    const int from = LayerIndex(layer);
    if (from < 0 || layers_.empty())
        return;
    index = std::clamp(index, 0, static_cast<int>(layers_.size()) - 1);
    layers_.erase(layers_.begin() + from);
    layers_.insert(layers_.begin() + index, layer);
    for (size_t i = 0; i < layers_.size(); ++i)
        layers_[i]->setZValue(static_cast<qreal>(i));
}

// --- The selection frame ------------------------------------------------------------------------------

void TLayerView::Select(TLayerItem* layer) {
    selected_ = layer;
    dragHandle_ = -1;
    viewport()->update();
}

void TLayerView::UpdateSelectionFrame() {
    viewport()->update();
}

QRectF TLayerView::FrameRect() const {
    if (!selected_)
        return {};
    return QRectF(mapFromScene(selected_->Location().topLeft()),
                  mapFromScene(selected_->Location().bottomRight()));
}

QRectF TLayerView::HandleRect(int handle) const {
    const QPointF centre = HandleCentre(FrameRect(), handle);
    return QRectF(centre.x() - kHandleSize / 2, centre.y() - kHandleSize / 2, kHandleSize, kHandleSize);
}

int TLayerView::HandleAt(const QPoint& point) const {
    if (!selected_)
        return -1;
    for (int handle = 0; handle < 8; ++handle)
        if (HandleRect(handle).adjusted(-1, -1, 1, 1).contains(point))
            return handle;
    return FrameRect().contains(point) ? kInside : -1;
}

void TLayerView::drawForeground(QPainter* painter, const QRectF&) {
    if (!selected_)
        return;
    painter->save();
    painter->resetTransform();
    painter->setRenderHint(QPainter::Antialiasing, false);
    const QRectF frame = FrameRect();
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(Qt::white, 1));
    painter->drawRect(frame);
    painter->setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter->drawRect(frame);
    painter->setPen(QPen(Qt::black, 1));
    painter->setBrush(Qt::white);
    for (int handle = 0; handle < 8; ++handle)
        painter->drawRect(HandleRect(handle));
    painter->restore();
}

void TLayerView::ShowCursorFor(int handle) {
    static const Qt::CursorShape shapes[] = {Qt::SizeHorCursor,   Qt::SizeHorCursor,   Qt::SizeVerCursor,
                                             Qt::SizeVerCursor,   Qt::SizeFDiagCursor, Qt::SizeBDiagCursor,
                                             Qt::SizeBDiagCursor, Qt::SizeFDiagCursor, Qt::SizeAllCursor};
    if (handle < 0)
        viewport()->unsetCursor();
    else
        viewport()->setCursor(shapes[handle]);
}

void TLayerView::Press(const QPoint& point) {
    int handle = HandleAt(point);
    if (handle < 0) {
        TLayerItem* pressed = nullptr;
        for (QGraphicsItem* item : items(point)) // topmost first
            if (auto* layer = dynamic_cast<TLayerItem*>(item); layer && layer->isVisible()) {
                pressed = layer;
                break;
            }
        if (!pressed)
            return;
        emit LayerPressed(*pressed);
        if (selected_ != pressed)
            return;
        handle = kInside;
    }
    dragHandle_ = handle;
    dragStart_ = mapToScene(point);
    dragLocation_ = selected_->Location();
}

// Moves or resizes the selected layer; its half width and half height stay at least two picture
// pixels around the centre of what the drag gives.
void TLayerView::DragTo(const QPoint& point) {
    if (!selected_ || dragHandle_ < 0)
        return;
    const QPointF delta = mapToScene(point) - dragStart_;
    QRectF r = dragLocation_;
    if (dragHandle_ == kInside) {
        r.translate(delta);
    } else {
        if (dragHandle_ == 0 || dragHandle_ == 4 || dragHandle_ == 6)
            r.setLeft(r.left() + delta.x());
        if (dragHandle_ == 1 || dragHandle_ == 5 || dragHandle_ == 7)
            r.setRight(r.right() + delta.x());
        if (dragHandle_ == 2 || dragHandle_ == 4 || dragHandle_ == 5)
            r.setTop(r.top() + delta.y());
        if (dragHandle_ == 3 || dragHandle_ == 6 || dragHandle_ == 7)
            r.setBottom(r.bottom() + delta.y());
        r = r.normalized();
        const QPointF centre = r.center();
        const qreal halfWidth = std::max(kMinimumHalfSize, r.width() / 2);
        const qreal halfHeight = std::max(kMinimumHalfSize, r.height() / 2);
        r = QRectF(centre.x() - halfWidth, centre.y() - halfHeight, 2 * halfWidth, 2 * halfHeight);
    }
    selected_->SetLocation(r);
    viewport()->update();
    emit LayerDragged(*selected_);
}

void TLayerView::Release() {
    dragHandle_ = -1;
}

void TLayerView::DragFromTo(const QPoint& from, const QPoint& to) {
    Press(from);
    DragTo(to);
    Release();
}

void TLayerView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        Press(event->position().toPoint());
    event->accept();
}

void TLayerView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (dragHandle_ >= 0 && (event->buttons() & Qt::LeftButton)) {
        DragTo(point);
    } else {
        ShowCursorFor(HandleAt(point));
    }
    emit MouseMoved();
    event->accept();
}

void TLayerView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        Release();
    event->accept();
}

} // namespace tarnel
