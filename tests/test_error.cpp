#include <gtest/gtest.h>

#include <set>
#include <string>

#include "orv/orv_error.h"

TEST(ErrorNames, NamesFollowTheFirstMatchingRow)
{
    EXPECT_STREQ(orv_err_name(ORV_OK), "ORV_OK");
    EXPECT_STREQ(orv_err_name(3), "ORV_WOUNLD_BLOCK");
    EXPECT_STREQ(orv_err_name(ORV_FAIL), "ORV_FAIL");
    // Two rows carry 0x80000403; the earlier one wins.
    EXPECT_EQ(ORV_ERR_VTL_SCALE, ORV_ERR_VTL_MEDIA);
    EXPECT_STREQ(orv_err_name(ORV_ERR_VTL_MEDIA), "ORV_ERR_VTL_SCALE");
    // The out-of-order last row is still found.
    EXPECT_STREQ(orv_err_name(static_cast<ResultCode>(0x80000015u)), "ORV_ERR_FILE_OVERFLOW_FATAL");
    EXPECT_STREQ(orv_err_name(ORV_ERR_LOAD_LIB), "Load library failed!");
    EXPECT_STREQ(orv_err_name(ORV_ERR_ADEC_INIT), "Audio decoder init failed!");
    EXPECT_STREQ(orv_err_name(ORV_ERR_PLY_Resume), "ORV_ERR_PLY_Resume");
}

TEST(ErrorNames, UnlistedValuesAreUndefined)
{
    for (uint32_t code : {5u, 8u, 15u, 0x102u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000105u, 0x80001D01u})
        EXPECT_STREQ(orv_err_name(static_cast<ResultCode>(code)), "undefined error code") << std::hex << code;
}

TEST(ErrorNames, ConstantsNameThemselves)
{
    // Every constant whose row holds its own name prints that name; the seven
    // message rows print their message.
#define CHECK(name) EXPECT_STREQ(orv_err_name(name), #name)
    CHECK(ORV_EOF);
    CHECK(ORV_RESTART);
    CHECK(ORV_ERR_THREAD_RUNING);
    CHECK(ORV_ERR_VRD_RECIEVE);
    CHECK(ORV_ERR_HTTP_MATHOPD_ERR);
    CHECK(ORV_ERR_DMUX_FORMATEINFO);
    CHECK(ORV_ERR_CONNECT_FATAL);
    CHECK(ORV_ERR_IO_STAT);
    CHECK(ORV_ERR_MEM_ALLOC);
#undef CHECK
    EXPECT_TRUE(ORV_FAILED(ORV_FAIL));
    EXPECT_FALSE(ORV_FAILED(ORV_WOUNLD_BLOCK));
    EXPECT_EQ(static_cast<uint32_t>(ORV_ERR_CONNECT_FATAL), 0x80002300u);
}
