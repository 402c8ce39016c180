// Linked into the tests ctest runs once per kernel tier: an entry whose
// ORV_KERNELS names a tier this machine cannot run skips all its tests, so
// it never passes on the fastest tier in the forced tier's name.
#include <gtest/gtest.h>

#include "kernel_list.h"

namespace {

class TierGuard : public testing::Environment {
public:
    void SetUp() override
    {
        const int tier = kernel_list::forced_tier();
        if (tier >= 0 && !orv_device_kernels_runnable(tier))
            GTEST_SKIP() << "ORV_KERNELS=" << orv_kernel_tier_name(tier) << ": not on this machine";
    }
};

[[maybe_unused]] testing::Environment *const guard = testing::AddGlobalTestEnvironment(new TierGuard);

} // namespace
