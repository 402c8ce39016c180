// Path splitting: arbitrary paths into drive, directory, name and extension
// buffers of exactly the sizes drawn from the first four input bytes (zero
// included), each output checked against a plain model of the split.
#include <memory>

#include "fuzz_util.h"
#include "orv/orv_sys.h"

namespace {

struct Split {
    std::string directory, name, extension;
};

Split model(const std::string &path)
{
    Split s;
    std::string component;
    for (char c : path) {
        if ((c == '/' || c == '\\') && !component.empty()) {
            s.directory += component + "/";
            component.clear();
        } else if (component.size() < 255) {
            component += c;
        }
    }
    const size_t dot = component.find('.');
    s.name = component.substr(0, dot);
    if (dot != std::string::npos)
        s.extension = component.substr(dot + 1);
    return s;
}

struct Out {
    uint32_t size;
    std::unique_ptr<char[]> bytes;
    explicit Out(uint32_t n) : size(n), bytes(n ? new char[n] : nullptr)
    {
        if (n)
            std::memset(bytes.get(), 'Z', n);
    }
    void check(const char *what, const std::string &full) const
    {
        if (!size)
            return;
        const std::string want = full.substr(0, size - 1);
        if (strnlen(bytes.get(), size) == size || want != bytes.get())
            fuzz_fail("%s is \"%.*s\" in %u bytes, model \"%s\"", what, int(size), bytes.get(), size,
                      want.c_str());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzBytes in{data, size};
    Out drive(in.byte() % 8), directory(in.byte() * 2), name(in.byte() * 2), extension(in.byte());
    const std::string path = fuzz_text(in.data, in.size);
    orv_split_path(path.c_str(), drive.bytes.get(), drive.size, directory.bytes.get(), directory.size,
                   name.bytes.get(), name.size, extension.bytes.get(), extension.size);
    const Split want = model(path);
    drive.check("drive", "");
    directory.check("directory", want.directory);
    name.check("name", want.name);
    extension.check("extension", want.extension);
    return 0;
}
