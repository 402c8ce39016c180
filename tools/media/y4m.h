// YUV4MPEG2 reader for 4:2:0 clips: the header's size, rate and chroma tag,
// then one frame at a time. 8-bit clips, and 10-bit ones (C420p10: 16-bit
// little-endian words, value in bits 0-9) whose frames keep their words, the
// strides counting bytes. Every malformed input ends in a message.
#ifndef ORV_TOOLS_Y4M_H
#define ORV_TOOLS_Y4M_H

#include <cstdio>
#include <string>

#include "host_frame.h"

class Y4mReader {
public:
    Y4mReader() = default;
    Y4mReader(const Y4mReader &) = delete;
    Y4mReader &operator=(const Y4mReader &) = delete;
    ~Y4mReader();

    // False with a message for a missing file, a bad header, a zero or
    // oversized frame size, or a chroma format other than 4:2:0.
    bool open(const char *path, std::string *error);
    // 1: a frame was read; 0: the clip ended cleanly; -1: error (message).
    int read(HostFrame *frame, std::string *error);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t rate_num() const { return rate_num_; }
    int32_t rate_den() const { return rate_den_; }
    int32_t frames_read() const { return frames_read_; }
    // From the XCOLORRANGE tag: 0 limited, 1 full, -1 when the header has none.
    int color_range() const { return color_range_; }
    // Bytes per sample: 1, or 2 for a 10-bit clip.
    int sample_bytes() const { return sample_bytes_; }

    // Largest side accepted; bigger sizes are taken for corrupt headers.
    static constexpr int32_t kMaxSide = 16384;

private:
    bool parse_header(const std::string &line, std::string *error);

    std::FILE *file_ = nullptr;
    std::string path_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t rate_num_ = 25;
    int32_t rate_den_ = 1;
    int32_t frames_read_ = 0;
    int color_range_ = -1;
    int sample_bytes_ = 1;
};

#endif
