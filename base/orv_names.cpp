// The framework's name tables (request codes, service requests, message GIDs,
// protocol keywords), searched linearly in their stored order because the
// first match wins, and the radio/checkbox group writers over an XINI tree.
// Owns only constant data; takes no lock (a tree is used by one thread at a
// time; the number formatting takes the global lock itself).
#include "orv/orv_names.h"

#include <cstring>

#include "orv/orv_ini.h"
#include "orv/orv_log.h"
#include "orv/orv_str.h"
#include "orv/orv_text.h"

// Name-based (SHA-1) values under the framework's GID namespace, as the other
// framework constants.
extern "C" {
const GID ORV_MSG_OnLoadSource = {
    {0x08, 0x93, 0x0d, 0xef, 0x33, 0xcd, 0x5a, 0x24, 0x87, 0xc9, 0xa1, 0xd4, 0x5a, 0xbf, 0x06, 0xf8}};
const GID ORV_MSG_OnCmdUMsg = {
    {0xb0, 0xd7, 0x9e, 0x77, 0xcf, 0x23, 0x56, 0x40, 0xb0, 0x58, 0xd9, 0x86, 0x30, 0x71, 0xe2, 0x07}};
const GID ORV_MSG_VEXO_Play = {
    {0xdc, 0x31, 0xe5, 0xb7, 0x35, 0x93, 0x5a, 0xe5, 0x9a, 0x77, 0x33, 0x19, 0x0d, 0x9f, 0xa7, 0x0a}};
const GID ORV_MSG_PrevSetTime = {
    {0x6c, 0xb5, 0x40, 0xab, 0x66, 0x9b, 0x54, 0xfc, 0xb7, 0xf3, 0x8b, 0x2e, 0x2f, 0xf6, 0xf4, 0x3c}};
const GID ORV_MSG_AfterSetTime = {
    {0x83, 0x6a, 0x82, 0x88, 0x84, 0x9e, 0x56, 0x8d, 0x9f, 0x62, 0xfc, 0x75, 0x49, 0x83, 0x6a, 0xfa}};
const GID ORV_MSG_VEXO_Pause = {
    {0xe3, 0x27, 0x4b, 0xe1, 0x31, 0xfa, 0x5a, 0xa7, 0x9c, 0xce, 0x90, 0xdf, 0x79, 0x88, 0x09, 0xed}};
const GID ORV_MSG_VEXO_Resume = {
    {0xd1, 0x8a, 0xf7, 0x42, 0xca, 0xe5, 0x52, 0x83, 0xbc, 0x82, 0x87, 0x0f, 0xe0, 0x71, 0x6c, 0x3b}};
const GID ORV_MSG_VEXO_Stop = {
    {0xcb, 0xa9, 0xd5, 0xe8, 0x94, 0xcd, 0x58, 0xf5, 0x94, 0x74, 0x1b, 0xcf, 0x9d, 0xce, 0xa0, 0xfc}};
const GID ORV_MSG_Push = {
    {0xde, 0xb5, 0x3e, 0x94, 0xd0, 0x38, 0x53, 0x0e, 0xac, 0xaa, 0x5b, 0x53, 0xc9, 0x76, 0x49, 0x41}};
const GID ORV_MSG_OnCloseConn = {
    {0x8b, 0xb6, 0x19, 0xde, 0x32, 0x82, 0x57, 0x20, 0x8c, 0xaf, 0x00, 0x50, 0x87, 0xe8, 0x59, 0xd8}};
const GID ORV_MSG_OnSessionErrNotify = {
    {0x16, 0xe8, 0x12, 0x69, 0xd1, 0xe2, 0x51, 0xaa, 0xb7, 0xa0, 0x5b, 0x7b, 0xb4, 0x8e, 0x52, 0x4c}};
}

namespace {

struct CodeName {
    int32_t code;
    const char *name;
};

constexpr CodeName kRequests[] = {
    {0, "orv request none"},
    {600, "orv request login"},
    {610, "orv request vexo play"},
    {620, "orv request vexo push"},
    {630, "orv request vexo pull"},
    {640, "orv request confirm"},
    {650, "orv request shared info"},
    {700, "orv request read dirs"},
    {709, "orv request media info"},
    {720, "orv request bind"},
    {730, "orv request set notify"},
    {731, "orv request notify"},
    {732, "orv request push"},
    {733, "orv request pull"},
    {734, "orv request install"},
    {735, "orv request uninstall"},
    {740, "orv request diskinfo"},
    {750, "orv request remove"},
    {760, "orv request rename"},
    {810, "orv request download"},
    {811, "orv request convert"},
    {812, "orv request play"},
    {813, "orv request pause"},
    {814, "orv request close"},
    {815, "orv request control"},
    {820, "orv request connect"},
    {830, "orv request deliver"},
    {1000, "orv request push message"},
    {1001, "orv request client message"},
};
static_assert(sizeof kRequests / sizeof kRequests[0] == 29);

#define ORV_SERVICE_ROW(name)                                                                                \
    {                                                                                                        \
        name, #name                                                                                          \
    }
constexpr CodeName kServiceRequests[] = {
    ORV_SERVICE_ROW(ORV_SERVICE_CLIENT_MESSAGE),      ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_LOGIN),
    ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_CONFIRM),     ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_BROWSE),
    ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_SHARED_INFO), ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_MEDIAINFO),
    ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_DISKINFO),    ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_REMOVE),
    ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_RENAME),      ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_PUSH),
    ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_PULL),        ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_INSTALL),
    ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_UNINSTALL),   ORV_SERVICE_ROW(ORV_SERVICE_REQUEST_CLOSE),
};
#undef ORV_SERVICE_ROW
static_assert(sizeof kServiceRequests / sizeof kServiceRequests[0] == 14);

struct MessageName {
    const GID *gid;
    const char *name;
};

#define ORV_MESSAGE_ROW(name)                                                                                \
    {                                                                                                        \
        &name, #name                                                                                         \
    }
const MessageName kMessages[] = {
    ORV_MESSAGE_ROW(ORV_MSG_OnLoadSource),
    ORV_MESSAGE_ROW(ORV_MSG_OnCmdUMsg),
    ORV_MESSAGE_ROW(ORV_MSG_VEXO_Play),
    ORV_MESSAGE_ROW(ORV_MSG_PrevSetTime),
    ORV_MESSAGE_ROW(ORV_MSG_AfterSetTime),
    ORV_MESSAGE_ROW(ORV_MSG_VEXO_Pause),
    ORV_MESSAGE_ROW(ORV_MSG_VEXO_Resume),
    ORV_MESSAGE_ROW(ORV_MSG_VEXO_Stop),
    ORV_MESSAGE_ROW(ORV_MSG_Push),
    ORV_MESSAGE_ROW(ORV_MSG_OnCloseConn),
    ORV_MESSAGE_ROW(ORV_MSG_OnSessionErrNotify),
    ORV_MESSAGE_ROW(ORV_VEXO_HEART_BEAT),
};
#undef ORV_MESSAGE_ROW

struct KeywordProtocol {
    const char *keyword;
    const char *protocol;
};

constexpr KeywordProtocol kKeywords[] = {
    {"ORV:", "ORV:"},       {"HEAD:", "HTTP:"},     {"GET:", "HTTP:"},    {"POST:", "HTTP:"},
    {"DESCRIBE:", "RTSP:"}, {"SETUP:", "RTSP:"},    {"OPTION:", "RTSP:"}, {"PLAY:", "RTSP:"},
    {"PAUSE:", "RTSP:"},    {"TEARDOWN:", "RTSP:"},
};

template <size_t N>
const char *find_code(const CodeName (&table)[N], int32_t code, const char *absent)
{
    for (const CodeName &row : table)
        if (row.code == code)
            return row.name;
    return absent;
}

// Room for "%d" and for the 32 digits of a GID.
constexpr size_t kNumberBuffer = 64;

enum class GroupKind { radio, checkbox };

struct GroupWriter {
    XiniTree *tree;

    ResultCode key(XiniNode *parent, const char *name, const char *value, XiniNode **out = nullptr) const
    {
        XiniNode *made = nullptr;
        const ResultCode result = tree->vt.create_key(tree, parent, name, value, &made);
        if (out)
            *out = made;
        return result;
    }

    ResultCode number(XiniNode *parent, const char *name, int32_t value) const
    {
        char text[kNumberBuffer];
        orv_snprintf(text, sizeof text, "%d", value);
        return key(parent, name, text);
    }

    ResultCode gid(XiniNode *parent, const char *name, const GID &value) const
    {
        char text[kNumberBuffer];
        orv_hex_encode(sizeof value.bytes, value.bytes, text);
        return key(parent, name, text);
    }

    // status: nullptr for a radio option, else "checked" or "unchecked".
    ResultCode option(XiniNode *group, int32_t index, const OrvMediaOption &o, const char *status,
                      bool exclusive) const
    {
        char name[kNumberBuffer];
        orv_snprintf(name, sizeof name, "option-%d", index);
        XiniNode *node = nullptr;
        ResultCode r = key(group, name, "list", &node);
        if (r != 0)
            return r;
        if ((r = gid(node, "Major Type", *o.major_type)) != 0)
            return r;
        if ((r = key(node, "Major Type Name", o.major_type_name ? *o.major_type_name : nullptr)) != 0)
            return r;
        if ((r = gid(node, "Sub Type", *o.sub_type)) != 0)
            return r;
        if ((r = key(node, "Sub Type Name", o.sub_type_name ? *o.sub_type_name : nullptr)) != 0)
            return r;
        if (status && (r = key(node, "status", status)) != 0)
            return r;
        return key(node, "pin rule", exclusive ? "exclusive" : "none exclusive");
    }
};

ResultCode write_group(GroupKind kind, XiniTree *tree, XiniNode *parent, const char *group,
                       const char *description, int32_t default_option, int32_t current_option, int32_t count,
                       const OrvMediaOption *options, const int32_t *status, const int32_t *exclusive)
{
    const bool radio = kind == GroupKind::radio;
    const char *kind_name = radio ? "radio" : "checkbox";
    bool valid = tree && tree->vt.create_key && group && (count <= 0 || options);
    for (int32_t i = 0; valid && i < count; ++i)
        valid = options[i].major_type && options[i].sub_type;
    if (!valid) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: %s group %s: missing tree, name, option or type",
                kind_name, group ? group : "(null)");
        return ORV_ERR_INVALID_PARAM;
    }
    const GroupWriter w{tree};
    XiniNode *node = nullptr;
    ResultCode r = w.key(parent, group, kind_name, &node);
    if (r != 0)
        return r;
    if ((r = w.key(node, "description", description)) != 0)
        return r;
    if (radio) {
        if ((r = w.number(node, "default option", default_option)) != 0)
            return r;
        if ((r = w.number(node, "current option", current_option)) != 0)
            return r;
    }
    for (int32_t i = 0; i < count; ++i) {
        const char *status_text = radio ? nullptr : (status && status[i] ? "checked" : "unchecked");
        if ((r = w.option(node, i, options[i], status_text, exclusive && exclusive[i])) != 0)
            return r;
    }
    return ORV_OK;
}

} // namespace

extern "C" {

const char *orv_request_name(int32_t code)
{
    return find_code(kRequests, code, "undefined request code");
}

const char *orv_service_request_name(int32_t code)
{
    return find_code(kServiceRequests, code, "other vexo msg");
}

const char *orv_message_name(GID message)
{
    for (const MessageName &row : kMessages)
        if (memcmp(row.gid->bytes, message.bytes, sizeof message.bytes) == 0)
            return row.name;
    return "other vexo user msg";
}

const char *orv_protocol_of_keyword(const char *keyword)
{
    if (!keyword)
        return nullptr;
    for (const KeywordProtocol &row : kKeywords)
        if (strcmp(row.keyword, keyword) == 0)
            return row.protocol;
    return nullptr;
}

ResultCode orv_write_radio_group(XiniTree *tree, XiniNode *parent, const char *group, const char *description,
                                 int32_t default_option, int32_t current_option, int32_t count,
                                 const OrvMediaOption *options, const int32_t *exclusive)
{
    return write_group(GroupKind::radio, tree, parent, group, description, default_option, current_option,
                       count, options, nullptr, exclusive);
}

ResultCode orv_write_checkbox_group(XiniTree *tree, XiniNode *parent, const char *group,
                                    const char *description, int32_t count, const OrvMediaOption *options,
                                    const int32_t *status, const int32_t *exclusive)
{
    return write_group(GroupKind::checkbox, tree, parent, group, description, 0, 0, count, options, status,
                       exclusive);
}

} // extern "C"
