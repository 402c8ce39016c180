// The Android log for builds whose target has no liblog to link (the ARM cross
// builds take only the host's packages): each line goes to standard error in
// logcat's brief form, as the desktop liblog does.
#include <android/log.h>

#include <cstdio>
#include <unistd.h>

extern "C" __attribute__((visibility("default"))) int __android_log_write(int prio, const char *tag,
                                                                           const char *text)
{
    static constexpr char kLetters[] = "??VDIWEF";
    const char letter = prio >= 0 && prio < static_cast<int>(sizeof kLetters - 1) ? kLetters[prio] : '?';
    return fprintf(stderr, "%c/%s(%d): %s\n", letter, tag ? tag : "", static_cast<int>(getpid()),
                   text ? text : "(null)") < 0
               ? -1
               : 1;
}
