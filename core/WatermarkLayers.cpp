#include "WatermarkLayers.h"

#include <algorithm>
#include <utility>

namespace tarnel {

bool LayerShowsAt(const TWmRec& layer, int64_t pts) {
    const int64_t second = pts / 1000000;
    return layer.StartSecond <= second && second <= layer.EndSecond;
}

TLayerKind KindOf(const TWmRec& layer) {
    return layer.Kind == 1 ? TLayerKind::Picture : TLayerKind::Text;
}

TLayerPlace PlaceOf(const TWmRec& layer) {
    if (KindOf(layer) == TLayerKind::Picture)
        return {layer.ImageLeft, layer.ImageTop, layer.ImageWidth, layer.ImageHeight, layer.ImageAlpha};
    return {layer.TextLeft, layer.TextTop, layer.TextWidth, layer.TextHeight, layer.TextAlpha};
}

void SetPlace(TWmRec& layer, const TLayerPlace& place) {
    if (KindOf(layer) == TLayerKind::Picture) {
        layer.ImageLeft = place.Left;
        layer.ImageTop = place.Top;
        layer.ImageWidth = place.Width;
        layer.ImageHeight = place.Height;
        layer.ImageAlpha = place.Alpha;
        return;
    }
    layer.TextLeft = place.Left;
    layer.TextTop = place.Top;
    layer.TextWidth = place.Width;
    layer.TextHeight = place.Height;
    layer.TextAlpha = place.Alpha;
}

int TWatermarkLayers::Add(TWmRec layer) {
    layers_.push_back(std::move(layer));
    return Count() - 1;
}

void TWatermarkLayers::Clear() {
    layers_.clear();
    selected_ = kNone;
}

void TWatermarkLayers::Select(int index) {
    selected_ = index >= 0 && index < Count() ? index : kNone;
}

TWmRec* TWatermarkLayers::SelectedLayer() {
    return selected_ == kNone ? nullptr : &layers_[static_cast<size_t>(selected_)];
}

int TWatermarkLayers::DeleteSelected() {
    const int removed = selected_;
    if (removed == kNone)
        return kNone;
    layers_.erase(layers_.begin() + removed);
    Select(Empty() ? kNone : std::max(0, removed - 1));
    return removed;
}

int TWatermarkLayers::MoveSelectedUp() {
    if (selected_ == kNone || selected_ == 0)
        return kNone;
    return Swap(selected_, selected_ - 1);
}

int TWatermarkLayers::MoveSelectedDown() {
    if (selected_ == kNone || selected_ + 1 >= Count())
        return kNone;
    return Swap(selected_, selected_ + 1);
}

int TWatermarkLayers::Swap(int from, int to) {
    std::swap(layers_[static_cast<size_t>(from)], layers_[static_cast<size_t>(to)]);
    selected_ = to;
    return to;
}

std::vector<bool> TWatermarkLayers::ShownAt(int64_t pts) const {
    std::vector<bool> shown;
    shown.reserve(layers_.size());
    for (const TWmRec& layer : layers_)
        shown.push_back(LayerShowsAt(layer, pts));
    return shown;
}

std::vector<std::unique_ptr<TWmRec>> TWatermarkLayers::ToRecords() const {
    std::vector<std::unique_ptr<TWmRec>> records;
    records.reserve(layers_.size());
    for (const TWmRec& layer : layers_) {
        auto stored = std::make_unique<TWmRec>();
        stored->Kind = static_cast<uint32_t>(KindOf(layer));
        if (KindOf(layer) == TLayerKind::Picture) {
            stored->ImageFile = layer.ImageFile;
        } else {
            stored->Text = layer.Text;
            stored->Font = layer.Font;
            stored->BackColor = layer.BackColor;
            stored->BackOpaque = layer.BackOpaque;
        }
        SetPlace(*stored, PlaceOf(layer));
        stored->StartSecond = layer.StartSecond;
        stored->EndSecond = layer.EndSecond;
        records.push_back(std::move(stored));
    }
    return records;
}

} // namespace tarnel
