// Test seam of the log: every Android log write goes through one writer.
#pragma once

namespace orv {

using AndroidWriter = int (*)(int priority, const char *tag, const char *text);

// Replaces the writer (null restores __android_log_write); returns the old one.
AndroidWriter log_set_android_writer(AndroidWriter writer);

} // namespace orv
