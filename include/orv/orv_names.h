/* Printable names for the framework's shared vocabulary: client request
 * codes, service request codes, message identifiers and protocol keywords,
 * and the writers that describe a radio or checkbox group of media options
 * as keys of an XINI tree. The lookups never allocate or fail. */
#ifndef ORV_NAMES_H
#define ORV_NAMES_H

#include "orv_error.h"
#include "orv_gid.h"

ORV_EXTERN_C_BEGIN

typedef struct XiniTree XiniTree;
typedef struct XiniNode XiniNode;

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

/* One selectable media option. The names are reached through one more
 * pointer, so a table of options can follow texts that change. */
typedef struct OrvMediaOption {
    const GID *major_type;
    const GID *sub_type;
    const char *const *major_type_name;
    const char *const *sub_type_name;
} OrvMediaOption;

/* Under parent (null: the root) writes the key <group> = "radio" with
 * "description", "default option", "current option" and, per option,
 * "option-<i>" = "list" holding "Major Type", "Major Type Name", "Sub Type",
 * "Sub Type Name" and "pin rule" ("exclusive" / "none exclusive"). GIDs are
 * written as 32 lower-case hexadecimal digits. A null name (or name pointer)
 * gives a key without a value; null exclusive flags count as 0. Returns 0,
 * the first failing create_key result, or ORV_ERR_INVALID_PARAM (null tree,
 * group, options while count > 0, or option GID). */
ORV_API ResultCode orv_write_radio_group(XiniTree *tree, XiniNode *parent, const char *group,
                                         const char *description, int32_t default_option,
                                         int32_t current_option, int32_t count, const OrvMediaOption *options,
                                         const int32_t *exclusive);
/* As the radio group with the value "checkbox", no default or current
 * option, and per option a "status" key ("checked" / "unchecked") before
 * "pin rule". Null status flags count as 0. */
ORV_API ResultCode orv_write_checkbox_group(XiniTree *tree, XiniNode *parent, const char *group,
                                            const char *description, int32_t count,
                                            const OrvMediaOption *options, const int32_t *status,
                                            const int32_t *exclusive);

ORV_EXTERN_C_END

#endif
