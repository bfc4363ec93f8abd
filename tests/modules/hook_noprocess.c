/* Test hook without a Process entry point. */
#include "base/FrameHookApi.h"

int Configure(void** ctxp, int argc, char* argv[]) {
    (void)argc;
    (void)argv;
    *ctxp = 0;
    return 0;
}

void Release(void* ctx) {
    (void)ctx;
}
