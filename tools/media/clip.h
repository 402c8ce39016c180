// The built-in test clip: moving colour bars with the frame number drawn on
// them, at any size, so a host can play without a file.
#ifndef ORV_TOOLS_CLIP_H
#define ORV_TOOLS_CLIP_H

#include "host_frame.h"

// Draws frame index of the clip at the frame's own size (the frame must have
// been made with HostFrame::make).
void draw_clip_frame(int index, HostFrame *frame);

#endif
