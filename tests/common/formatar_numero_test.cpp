#include "common/formatar_numero.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* s;
    int w;
    int d;
    const char* expected;
};

// What stands before the comma, then exactly d decimals (cut, or filled with
// zeros) without the comma, padded with zeros on the left to the width;
// never cut to the width.
TEST(FormatarNumero, KeepsDDecimalsWithoutTheCommaAndPadsToTheWidth)
{
    const Case cases[] = {
        // Whole numbers padded on the left; a longer one is left whole.
        {"7", 3, 0, "007"},
        {"12", 3, 0, "012"},
        {"1234", 3, 0, "1234"},
        {"57", 8, 0, "00000057"},
        // Decimals filled up or cut to d, the comma dropped; d = 0 drops them.
        {"12,5", 8, 2, "00001250"},
        {"3,14159", 6, 2, "000314"},
        {"12,5", 4, 0, "0012"},
        // An empty value is all padding; a sign is an ordinary character.
        {"", 3, 0, "000"},
        {"-5", 4, 0, "00-5"},
        // Exactly the width: unchanged.
        {"033", 3, 0, "033"},
        // Longer than the width even after the decimals: returned whole.
        {"12345,678", 3, 2, "1234567"},
        // Zero or negative widths never cut nor pad.
        {"42", 0, 0, "42"},
        {"42", -1, 0, "42"},
        // Empty value with decimals: zeros for the decimals, then the padding.
        {"", 4, 2, "0000"},
        // Everything after the first comma is dropped when d = 0, later
        // commas included; with decimals, later commas are skipped, not copied.
        {"1,2,3", 1, 0, "1"},
        {"1,2,3", 1, 3, "1230"},
        // A leading comma leaves an empty integer part.
        {",75", 4, 2, "0075"},
        // Dots and blanks are ordinary characters before the comma.
        {"1.5", 5, 0, "001.5"},
        {" 8", 4, 0, "00 8"},
        // Non-Latin-1 text is padded by characters, not by bytes.
        {"\xC3\xA9", 3, 0, "00\xC3\xA9"},
    };
    for (const Case& c : cases) {
        const QString s = QString::fromUtf8(c.s);
        EXPECT_EQ(common::Formatar_Numero(s, c.w, c.d), QString::fromUtf8(c.expected))
            << "s=\"" << c.s << "\" w=" << c.w << " d=" << c.d;
    }
}

} // namespace
