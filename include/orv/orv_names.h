/* Printable names for the framework's shared vocabulary: client request
 * codes, service request codes, message identifiers and protocol keywords,
 * and the writers that describe a radio or checkbox group of media options
 * as keys of an XINI tree. The lookups never allocate or fail. */
#ifndef ORV_NAMES_H
#define ORV_NAMES_H

#include "orv_error.h"
#include "orv_gid.h"

ORV_EXTERN_C_BEGIN

/* Service request codes (their names are these identifiers). */
enum {
    ORV_SERVICE_REQUEST_LOGIN = 600,
    ORV_SERVICE_REQUEST_CONFIRM = 640,
    ORV_SERVICE_REQUEST_SHARED_INFO = 650,
    ORV_SERVICE_REQUEST_BROWSE = 700,
    ORV_SERVICE_REQUEST_MEDIAINFO = 709,
    ORV_SERVICE_REQUEST_PUSH = 732,
    ORV_SERVICE_REQUEST_PULL = 733,
    ORV_SERVICE_REQUEST_INSTALL = 734,
    ORV_SERVICE_REQUEST_UNINSTALL = 735,
    ORV_SERVICE_REQUEST_DISKINFO = 740,
    ORV_SERVICE_REQUEST_REMOVE = 750,
    ORV_SERVICE_REQUEST_RENAME = 760,
    ORV_SERVICE_REQUEST_CLOSE = 814,
    ORV_SERVICE_CLIENT_MESSAGE = 1001
};

/* Message identifiers of the message table besides ORV_VEXO_HEART_BEAT
 * (which is among the GID constants of orv_gid.h). */
ORV_API extern const GID ORV_MSG_OnLoadSource;
ORV_API extern const GID ORV_MSG_OnCmdUMsg;
ORV_API extern const GID ORV_MSG_VEXO_Play;
ORV_API extern const GID ORV_MSG_PrevSetTime;
ORV_API extern const GID ORV_MSG_AfterSetTime;
ORV_API extern const GID ORV_MSG_VEXO_Pause;
ORV_API extern const GID ORV_MSG_VEXO_Resume;
ORV_API extern const GID ORV_MSG_VEXO_Stop;
ORV_API extern const GID ORV_MSG_Push;
ORV_API extern const GID ORV_MSG_OnCloseConn;
ORV_API extern const GID ORV_MSG_OnSessionErrNotify;

/* "undefined request code" for a code not in the table. */
ORV_API const char *orv_request_name(int32_t code);
/* "other vexo msg" for a code not in the table. */
ORV_API const char *orv_service_request_name(int32_t code);
/* The constant's name, "other vexo user msg" for a GID not in the table. */
ORV_API const char *orv_message_name(GID message);
/* "ORV:", "HTTP:" or "RTSP:" for a keyword such as "PLAY:" (case-sensitive);
 * null when the keyword is unknown. */
ORV_API const char *orv_protocol_of_keyword(const char *keyword);

ORV_EXTERN_C_END

#endif
