#include "advisor/Advisor.h"

#include <gtest/gtest.h>

TEST(Advisor, Smoke) {}
