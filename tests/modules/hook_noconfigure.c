/* Test hook with only a Process entry point: sets every byte of the first plane to 7. */
#include "base/FrameHookApi.h"

#include <stddef.h>
#include <string.h>

void Process(void* ctx, TarnelPicture* picture, int pix_fmt, int width, int height, int64_t pts) {
    (void)ctx;
    (void)pix_fmt;
    (void)pts;
    for (int y = 0; y < height; ++y)
        memset(picture->data[0] + (ptrdiff_t)y * picture->linesize[0], 7, (size_t)width);
}
