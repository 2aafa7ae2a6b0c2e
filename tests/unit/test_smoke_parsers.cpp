#include <gtest/gtest.h>

#include "console/parsers.h"

TEST(Parsers, HexBothNotations) {
    uint32_t value = 0;
    EXPECT_EQ(hexstr_to_uint("401000h", &value), 0);
    EXPECT_EQ(value, 0x401000u);
}
