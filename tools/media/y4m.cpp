// YUV4MPEG2 reader: see y4m.h. Owns its FILE; reads one frame per call.
#include "y4m.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kMaxLine = 4096;

// Reads up to and without the '\n'. False at end of file before any byte,
// or when the line is longer than kMaxLine (then *too_long is set).
bool read_line(std::FILE *f, std::string *line, bool *too_long)
{
    line->clear();
    *too_long = false;
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        if (c == '\n')
            return true;
        if (line->size() >= kMaxLine) {
            *too_long = true;
            return false;
        }
        line->push_back(static_cast<char>(c));
    }
    return !line->empty();
}

bool parse_int(const std::string &text, int32_t *out)
{
    if (text.empty() || text.size() > 9)
        return false;
    int32_t v = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9')
            return false;
        v = v * 10 + (ch - '0');
    }
    *out = v;
    return true;
}

} // namespace

Y4mReader::~Y4mReader()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

bool Y4mReader::open(const char *path, std::string *error)
{
    path_ = path != nullptr ? path : "";
    file_ = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (file_ == nullptr) {
        *error = path_ + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::string line;
    bool too_long = false;
    if (!read_line(file_, &line, &too_long)) {
        *error = path_ + (too_long ? ": header line too long" : ": empty file");
        return false;
    }
    return parse_header(line, error);
}

bool Y4mReader::parse_header(const std::string &line, std::string *error)
{
    const std::string magic = "YUV4MPEG2";
    if (line.compare(0, magic.size(), magic) != 0 ||
        (line.size() > magic.size() && line[magic.size()] != ' ')) {
        *error = path_ + ": not a YUV4MPEG2 file";
        return false;
    }
    bool have_w = false, have_h = false;
    std::string chroma = "420jpeg";
    size_t pos = magic.size();
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        size_t end = line.find(' ', pos);
        if (end == std::string::npos)
            end = line.size();
        if (end == pos)
            break;
        const char tag = line[pos];
        const std::string value = line.substr(pos + 1, end - pos - 1);
        pos = end;
        switch (tag) {
        case 'W':
            have_w = parse_int(value, &width_);
            if (!have_w) {
                *error = path_ + ": bad width '" + value + "'";
                return false;
            }
            break;
        case 'H':
            have_h = parse_int(value, &height_);
            if (!have_h) {
                *error = path_ + ": bad height '" + value + "'";
                return false;
            }
            break;
        case 'F': {
            const size_t colon = value.find(':');
            int32_t num = 0, den = 0;
            if (colon == std::string::npos || !parse_int(value.substr(0, colon), &num) ||
                !parse_int(value.substr(colon + 1), &den) || num == 0 || den == 0) {
                *error = path_ + ": bad frame rate '" + value + "'";
                return false;
            }
            rate_num_ = num;
            rate_den_ = den;
            break;
        }
        case 'C':
            chroma = value;
            break;
        case 'X': // extensions; the colour range one matters for conversion
            if (value == "COLORRANGE=FULL")
                color_range_ = 1;
            else if (value == "COLORRANGE=LIMITED")
                color_range_ = 0;
            break;
        default: // interlacing, aspect, comments: not needed to show frames
            break;
        }
    }
    if (!have_w || !have_h) {
        *error = path_ + ": header has no frame size";
        return false;
    }
    if (width_ == 0 || height_ == 0) {
        *error = path_ + ": zero frame size " + std::to_string(width_) + "x" + std::to_string(height_);
        return false;
    }
    if (width_ > kMaxSide || height_ > kMaxSide) {
        *error = path_ + ": frame size " + std::to_string(width_) + "x" + std::to_string(height_) +
                 " is too large";
        return false;
    }
    if (chroma == "420p10") {
        sample_bytes_ = 2;
    } else if (chroma != "420" && chroma != "420jpeg" && chroma != "420mpeg2" && chroma != "420paldv") {
        *error =
            path_ + ": unsupported chroma format C" + chroma + " (only 4:2:0, 8 or 10 bits, is supported)";
        return false;
    }
    return true;
}

int Y4mReader::read(HostFrame *frame, std::string *error)
{
    if (file_ == nullptr) {
        *error = "no clip open";
        return -1;
    }
    std::string line;
    bool too_long = false;
    if (!read_line(file_, &line, &too_long)) {
        if (too_long) {
            *error = path_ + ": frame header too long";
            return -1;
        }
        return 0;
    }
    if (line.compare(0, 5, "FRAME") != 0 || (line.size() > 5 && line[5] != ' ')) {
        *error = path_ + ": frame " + std::to_string(frames_read_) + " has no FRAME marker";
        return -1;
    }
    if (frame->width != width_ || frame->height != height_ || frame->y_stride != width_ * sample_bytes_) {
        *frame = HostFrame::make(width_ * sample_bytes_, height_);
        // Widths count samples; the planes hold sample_bytes_ per sample.
        frame->width = width_;
        frame->c_stride = HostFrame::chroma_width(width_) * sample_bytes_;
        frame->u.assign(size_t(frame->c_stride) * HostFrame::chroma_height(height_), 0);
        frame->v.assign(frame->u.size(), 0);
    }
    const size_t y_size = frame->y.size();
    const size_t c_size = frame->u.size();
    const size_t want = y_size + 2 * c_size;
    size_t got = std::fread(frame->y.data(), 1, y_size, file_);
    if (got == y_size)
        got += std::fread(frame->u.data(), 1, c_size, file_);
    if (got == y_size + c_size)
        got += std::fread(frame->v.data(), 1, c_size, file_);
    if (got != want) {
        *error = path_ + ": frame " + std::to_string(frames_read_) + " ends early (" + std::to_string(got) +
                 " of " + std::to_string(want) + " bytes)";
        return -1;
    }
    ++frames_read_;
    return 1;
}
