/* Test hook whose Configure refuses every argument list. */
#include "base/FrameHookApi.h"

int Configure(void** ctxp, int argc, char* argv[]) {
    (void)ctxp;
    (void)argc;
    (void)argv;
    return 1;
}

void Process(void* ctx, TarnelPicture* picture, int pix_fmt, int width, int height, int64_t pts) {
    (void)ctx;
    (void)picture;
    (void)pix_fmt;
    (void)width;
    (void)height;
    (void)pts;
}

void Release(void* ctx) {
    (void)ctx;
}
