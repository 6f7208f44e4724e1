#include "update/ecf_box.h"

#include <gtest/gtest.h>

TEST(EcfBox, OnlyThreeDigitsFrom001To040NameABox)
{
    struct Case {
        const char* numEcf;
        int box;
    };
    for (const Case c : {Case{"001", 1}, Case{"033", 33}, Case{"040", 40}, Case{"041", 0}, Case{"000", 0},
                         Case{"7", 0}, Case{" 07", 0}, Case{"0007", 0}, Case{"A1", 0}, Case{"", 0}})
        EXPECT_EQ(update::caixaDoNumEcf(c.numEcf), c.box) << c.numEcf;
}
