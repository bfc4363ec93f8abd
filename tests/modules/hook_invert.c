/* Test hook: without arguments inverts the first plane; with one argument adds that number to it.
 * Counts its Configure and Release calls and remembers the current directory seen by Configure. */
#include "base/FrameHookApi.h"

#include <stddef.h>
#include <stdlib.h>
#include <unistd.h>

typedef struct HookContext {
    int invert;
    int add;
} HookContext;

static int configureCount;
static int releaseCount;
static char configureDirectory[4096];

int HookConfigureCount(void) {
    return configureCount;
}
int HookReleaseCount(void) {
    return releaseCount;
}
const char* HookConfigureDirectory(void) {
    return configureDirectory;
}

int Configure(void** ctxp, int argc, char* argv[]) {
    HookContext* context = calloc(1, sizeof(HookContext));
    if (!context)
        return -1;
    context->invert = argc < 2;
    context->add = argc >= 2 ? atoi(argv[1]) : 0;
    *ctxp = context;
    ++configureCount;
    if (!getcwd(configureDirectory, sizeof configureDirectory))
        configureDirectory[0] = '\0';
    return 0;
}

void Process(void* ctx, TarnelPicture* picture, int pix_fmt, int width, int height, int64_t pts) {
    const HookContext* context = ctx;
    (void)pix_fmt;
    (void)pts;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture->data[0] + (ptrdiff_t)y * picture->linesize[0];
        for (int x = 0; x < width; ++x)
            row[x] = context->invert ? (uint8_t)(255 - row[x]) : (uint8_t)(row[x] + context->add);
    }
}

void Release(void* ctx) {
    free(ctx);
    ++releaseCount;
}
