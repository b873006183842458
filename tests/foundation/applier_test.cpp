#include <gtest/gtest.h>

#include "plugin/applier.h"

TEST(HexPattern, Placeholder) { EXPECT_EQ(z9_hexv_('a'), 10); }
