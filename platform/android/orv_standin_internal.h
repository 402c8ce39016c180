/* What the window and the VM stand-ins share. */
#ifndef ORV_STANDIN_INTERNAL_H
#define ORV_STANDIN_INTERNAL_H

#include "orv_standin.h"

/* Whether env is the environment the calling thread got from a stand-in VM. */
bool orv_standin_env_is_current(JNIEnv *env);

#endif
