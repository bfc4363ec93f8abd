// Phones record upright video as landscape pictures plus a display matrix that tells players to
// turn them. The converter and the player turn such pictures themselves, with the libraries'
// transpose and flip filters, so that sizes, crops, hooks and snapshots all see the upright picture.
#pragma once

#include "base/LibHandles.h"

namespace tarnel {

// The clockwise turn (0, 90, 180 or 270 degrees) that shows the stream's pictures upright; 0 when
// the stream has no display matrix. A matrix that is not a right angle gives 0 with `rightAngle`
// false and its angle (degrees, clockwise) in `angle`, so the caller can say it keeps the picture.
int UprightTurn(const AVStream* stream, bool* rightAngle = nullptr, double* angle = nullptr);

// A clockwise turn of `degrees` swaps a picture's width and height.
inline bool TurnSwapsSides(int degrees) {
    return degrees == 90 || degrees == 270;
}

// Turns decoded pictures by a fixed clockwise angle. The filter graph is made for the first
// picture and made again when the size or pixel format changes. Owned and used by one thread.
class TPictureRotator {
public:
    explicit TPictureRotator(int clockwiseDegrees);
    TPictureRotator(const TPictureRotator&) = delete;
    TPictureRotator& operator=(const TPictureRotator&) = delete;

    int Degrees() const { return degrees_; }
    // The turned picture, with the source's timestamps and properties; null when the libraries
    // fail (out of memory), with the library's error code in `error`.
    FramePtr Turn(const AVFrame* picture, int* error = nullptr);

private:
    int Configure(const AVFrame* picture);

    int degrees_;
    FilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr; // owned by graph_
    AVFilterContext* sink_ = nullptr;   // owned by graph_
    int width_ = 0;
    int height_ = 0;
    int format_ = -1;
};

} // namespace tarnel
