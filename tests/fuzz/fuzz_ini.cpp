// Feeds arbitrary text to the XINI reader over a memory stream. Every tree
// that opens is written (with and without comment lines), read back and
// compared, and every key's binary and array getters run into buffers of
// exactly the size they may fill, so an overrun trips AddressSanitizer; the
// input also serves as a key path.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "orv/orv_ini.h"
#include "orv/orv_io_stream.h"
#include "orv/orv_mem.h"
#include "xini_compare.h"

namespace {

void fail(const char *what, const std::string &detail)
{
    std::fprintf(stderr, "fuzz_ini: %s %s\n", what, detail.c_str());
    std::abort();
}

void exercise_getters(XiniTree *t, XiniNode *key)
{
    int32_t count = 0;
    if (t->vt.get_binary_hex(t, key, &count, nullptr) == ORV_OK && count > 0 && count <= 4096) {
        std::vector<uint8_t> exact(static_cast<size_t>(count));
        t->vt.get_binary_hex(t, key, &count, exact.data());
    }
    if (t->vt.get_binary_r64(t, key, &count, nullptr) == ORV_OK && count > 0 && count <= 4096) {
        std::vector<uint8_t> exact(static_cast<size_t>(count));
        t->vt.get_binary_r64(t, key, &count, exact.data());
    }
    int32_t values[3];
    t->vt.get_int_array(t, key, 3, values);
    for (int32_t i = 0; i < key->subkey_count; ++i)
        exercise_getters(t, key->subkeys[i]);
}

XiniTree *open_from(xio *stream)
{
    XiniTree *t = nullptr;
    if (orv_ini_open(nullptr, stream, XINI_READ_ONLY, nullptr, &t) != ORV_OK)
        return nullptr;
    return t;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t live = orv_mem_live_count();
    xio *in = ORV_IO_STREAM_CREATE();
    int32_t done = 0;
    in->vt.write(in, data, static_cast<int32_t>(size), &done);
    XiniTree *tree = open_from(in);
    if (tree) {
        for (uint32_t flags : {0u, XINI_COMPACT}) {
            xio *out = ORV_IO_STREAM_CREATE();
            tree->vt.set_flags(tree, XINI_READ_ONLY | flags);
            tree->vt.write_tree(tree, out);
            XiniTree *back = open_from(out);
            if (!back)
                fail("written tree does not open", "");
            std::string d = xini_difference(tree->root, back->root);
            if (!d.empty())
                fail("round trip differs at", d);
            orv_ini_close(back);
            out->vt.release(out);
        }
        exercise_getters(tree, tree->root);
        // The same bytes as a key path.
        const std::string path(reinterpret_cast<const char *>(data), size);
        XiniNode *found = nullptr;
        tree->vt.find_path(tree, path.c_str(), &found);
        orv_ini_close(tree);
    }
    in->vt.release(in);
    // Tracked blocks stay reachable from their list, so count them here.
    if (orv_mem_live_count() != live)
        fail("tracked blocks leaked:", std::to_string(orv_mem_live_count() - live));
    return 0;
}
