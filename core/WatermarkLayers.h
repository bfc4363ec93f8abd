// A row's watermark layers while they are edited: their order (the first is drawn first, so it lies
// at the bottom), the selected one, and which of them show at a given picture time. The watermark
// dialog shows them; the frame hook draws them by the same time rule.
#pragma once

#include "core/FilesRecord.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tarnel {

// A layer shows in the pictures whose whole second (pts in µs, divided by 1 000 000) lies within
// StartSecond..EndSecond, both ends included.
bool LayerShowsAt(const TWmRec& layer, int64_t pts);

// Where a layer lies in the picture (pixels of the source picture) and how opaque it is
// (0 … 255), whichever kind it is.
struct TLayerPlace {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    uint32_t Alpha = 255;

    bool operator==(const TLayerPlace&) const = default;
};

enum class TLayerKind : uint32_t { Text = 0, Picture = 1 };

TLayerKind KindOf(const TWmRec& layer);
TLayerPlace PlaceOf(const TWmRec& layer);
void SetPlace(TWmRec& layer, const TLayerPlace& place);

class TWatermarkLayers {
public:
    static constexpr int kNone = -1;

    int Count() const { return static_cast<int>(layers_.size()); }
    bool Empty() const { return layers_.empty(); }
    const TWmRec& At(int index) const { return layers_.at(static_cast<size_t>(index)); }
    TWmRec& At(int index) { return layers_.at(static_cast<size_t>(index)); }

    // Appends the layer on top of the others and returns its index; the selection stays.
    int Add(TWmRec layer);
    void Clear();

    // The selected layer's index, or kNone.
    int Selected() const { return selected_; }
    // Selects the layer at `index`; an index outside the list selects none.
    void Select(int index);
    TWmRec* SelectedLayer();

    // Removes the selected layer and selects the one before it (the new first when it was the
    // first), or none when the list is empty. Returns the removed index, or kNone when none was selected.
    int DeleteSelected();
    // Moves the selected layer one place toward the start (down in the stacking order), keeping it
    // selected. Returns its new index, or kNone when nothing moved (none selected, or already first).
    int MoveSelectedUp();
    // Moves the selected layer one place toward the end; kNone when none is selected or it is last.
    int MoveSelectedDown();

    // For each layer in order, whether it shows at `pts` (µs).
    std::vector<bool> ShownAt(int64_t pts) const;

    // The layers as a row stores them: each keeps its time and only the fields of its kind.
    std::vector<std::unique_ptr<TWmRec>> ToRecords() const;

private:
    int Swap(int from, int to);

    std::vector<TWmRec> layers_;
    int selected_ = kNone;
};

} // namespace tarnel
