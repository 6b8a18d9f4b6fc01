/*
 * A video-hook plug-in for the tests, built several times with different sets
 * of entry points (see CMakeLists.txt). Each hook appends its mark to the
 * first row of the picture, so the picture shows which hooks ran and in which
 * order; the counters below let the tests see every call.
 */
#include <stdio.h>
#include <string.h>

#include "engine/binding/FrameHookPlugin.h"

int HookConfigureCalls;
int HookProcessCalls;
int HookReleaseCalls;
char HookLastArguments[512]; /* argv of the last Configure, joined with "," */
int HookLastPixelFormat = -1;
int HookLastWidth = -1;
int HookLastHeight = -1;
int64_t HookLastPts = -1;
char HookReleasedMarks[64]; /* the marks of the released contexts, in order */

typedef struct HookContext {
  char mark;
} HookContext;

#if !defined(HOOK_NO_CONFIGURE) && !defined(HOOK_REFUSE)
/* Contexts live in a static table so that a variant without Release leaks
   nothing. */
static HookContext contexts[64];
static int contextCount;
#endif

#ifndef HOOK_NO_CONFIGURE
int Configure(void** context, int argc, char* argv[]) {
  HookConfigureCalls++;
  HookLastArguments[0] = '\0';
  for (int i = 0; i < argc; ++i) {
    if (i > 0) strncat(HookLastArguments, ",", sizeof HookLastArguments - strlen(HookLastArguments) - 1);
    strncat(HookLastArguments, argv[i], sizeof HookLastArguments - strlen(HookLastArguments) - 1);
  }
#ifdef HOOK_REFUSE
  (void)context;
  return 1;
#else
  if (contextCount == 64) return 1;
  HookContext* own = &contexts[contextCount++];
  own->mark = argc > 1 ? argv[1][0] : 'c';
  *context = own;
  return 0;
#endif
}
#endif

#ifndef HOOK_NO_PROCESS
void Process(void* context, FrameHookPicture* picture, int pixelFormat, int width, int height, int64_t pts) {
  HookProcessCalls++;
  HookLastPixelFormat = pixelFormat;
  HookLastWidth = width;
  HookLastHeight = height;
  HookLastPts = pts;
  const char mark = context ? ((HookContext*)context)->mark : 'n';
  uint8_t* row = picture->data[0];
  for (int i = 0; i < picture->linesize[0]; ++i) {
    if (row[i] == 0) {
      row[i] = (uint8_t)mark;
      return;
    }
  }
}
#endif

#ifndef HOOK_NO_RELEASE
void Release(void* context) {
  const char mark = context ? ((HookContext*)context)->mark : 'n';
  const size_t used = strlen(HookReleasedMarks);
  if (used + 1 < sizeof HookReleasedMarks) {
    HookReleasedMarks[used] = mark;
    HookReleasedMarks[used + 1] = '\0';
  }
  HookReleaseCalls++;
}
#endif
