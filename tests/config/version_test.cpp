#include "config/version.h"

#include <gtest/gtest.h>

TEST(Version, StampAndCaptionsAreTheExactTexts)
{
    EXPECT_EQ(app::versionStamp(), QStringLiteral("2.0.1|01-11-2022"));
    EXPECT_EQ(app::versionCaption(),
              QStringLiteral(" QuiborSync(2.0.1 | 01-11-2022) -Atualizar Vendas(Servidor)"));
    EXPECT_EQ(app::builtInCaption(), QStringLiteral("QuiborSync(1.0.0) -Atualizar Vendas(Servidor)"));
}
