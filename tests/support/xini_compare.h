// Structural comparison of two XINI subtrees, shared by the tests and the
// fuzz target. Header only so the fuzz build needs no test library.
#ifndef ORV_TEST_XINI_COMPARE_H
#define ORV_TEST_XINI_COMPARE_H

#include <cstring>
#include <string>

#include "orv/orv_ini.h"

// Empty when equal, else where the first difference lies.
inline std::string xini_difference(const XiniNode *a, const XiniNode *b, const std::string &at = "")
{
    std::string here = at + "/" + (a ? std::string(a->name, a->name_length) : "?");
    if (!a || !b)
        return a == b ? "" : here + ": missing key";
    if (a->name_length != b->name_length || std::memcmp(a->name, b->name, a->name_length) != 0)
        return here + ": name differs";
    if ((a->value == nullptr) != (b->value == nullptr) || a->value_length != b->value_length ||
        (a->value && std::memcmp(a->value, b->value, a->value_length) != 0))
        return here + ": value differs";
    if (a->subkey_count != b->subkey_count)
        return here + ": subkey count differs";
    for (int32_t i = 0; i < a->subkey_count; ++i) {
        if (a->subkeys[i]->parent != a || b->subkeys[i]->parent != b)
            return here + ": parent link broken";
        std::string d = xini_difference(a->subkeys[i], b->subkeys[i], here);
        if (!d.empty())
            return d;
    }
    return "";
}

#endif
