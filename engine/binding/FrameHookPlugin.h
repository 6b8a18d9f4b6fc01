/*
 * The interface of a video-hook plug-in: a shared library that exports up to
 * three functions by the names "Configure", "Process" and "Release" with the
 * C calling convention. "Process" is required; the other two are optional.
 *
 * Configure (context, argc, argv): called once per hook the session adds.
 *   argv[0] is the plug-in's path, argv[1..argc-1] its own arguments; the
 *   strings belong to the caller and live only for the call. The plug-in may
 *   store a private pointer in *context; it is handed back on every later
 *   call. Return 0 to accept, non-zero to refuse the hook. When the plug-in
 *   has no "Configure" it can only be added without arguments, and its
 *   context stays null.
 * Process (context, picture, pixelFormat, width, height, pts): called for
 *   every decoded picture, on the thread that runs the conversion. The
 *   plug-in may change the picture in place. pixelFormat is the media
 *   library's pixel format number; pts is the picture's time in
 *   microseconds.
 * Release (context): called once when the session ends; free the context
 *   here. Without "Release" nothing is called.
 *
 * The library is loaded once per process and stays loaded: two hooks of the
 * same plug-in share its global data but have separate contexts.
 */
#ifndef TOVRIN_FRAME_HOOK_PLUGIN_H
#define TOVRIN_FRAME_HOOK_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One picture: up to four planes, each with the byte distance between the
   starts of two rows. Packed formats use plane 0 only. */
typedef struct FrameHookPicture {
  uint8_t* data[4];
  int linesize[4];
} FrameHookPicture;

typedef int (*FrameHookConfigureFn)(void** context, int argc, char* argv[]);
typedef void (*FrameHookProcessFn)(void* context, FrameHookPicture* picture, int pixelFormat, int width,
                                   int height, int64_t pts);
typedef void (*FrameHookReleaseFn)(void* context);

#ifdef __cplusplus
}
#endif

#endif /* TOVRIN_FRAME_HOOK_PLUGIN_H */
