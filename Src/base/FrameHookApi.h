/* The interface between the converter and a frame-hook module: a shared object that exports
 * Configure, Process and Release with C linkage. Usable from C and C++ modules. */
#ifndef TARNEL_FRAME_HOOK_API_H
#define TARNEL_FRAME_HOOK_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One picture in the session's pixel format: up to four planes and their line sizes in bytes. */
typedef struct TarnelPicture {
    uint8_t* data[4];
    int linesize[4];
} TarnelPicture;

/* Called once per hook with argv[0] the module's path and the rest its own arguments; stores the
 * hook's context in *ctxp. Non-zero refuses the hook. Optional when the hook has no arguments. */
typedef int FrameHookConfigure(void** ctxp, int argc, char* argv[]);
/* Called for every picture, in place. Required. */
typedef void FrameHookProcess(void* ctx, TarnelPicture* picture, int pix_fmt, int width, int height,
                              int64_t pts);
/* Called once when the session ends. Optional. */
typedef void FrameHookRelease(void* ctx);

FrameHookConfigure Configure;
FrameHookProcess Process;
FrameHookRelease Release;

#ifdef __cplusplus
}
#endif

#endif /* TARNEL_FRAME_HOOK_API_H */
