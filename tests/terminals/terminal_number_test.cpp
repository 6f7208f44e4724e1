#include "db/connection_params.h"
#include "db/errors.h"
#include "terminals/licenca_row.h"
#include "terminals/slot_set.h"
#include "terminals/terminal_number.h"

#include <gtest/gtest.h>

using namespace terminals;

TEST(TerminalNumber, ConvertsNumEcfTextLikeAWholeNumberConversion)
{
    const struct {
        const char* text;
        std::optional<int> n;
    } cases[] = {
        {"001", 1}, {"033", 33}, {"034", 34}, {"7", 7}, {"000", 0}, {" 005 ", 5},
        {"+12", 12}, {"-3", -3}, {"A1", std::nullopt}, {"", std::nullopt}, {"  ", std::nullopt},
        {"1.0", std::nullopt}, {"0x1", std::nullopt}, {"+", std::nullopt}, {"99999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(tryNumeroEcf(c.text), c.n);
        if (c.n)
            EXPECT_EQ(numeroEcf(c.text), *c.n);
        else
            EXPECT_THROW(numeroEcf(c.text), db::UsageError);
    }
}

TEST(TerminalNumber, ConversionErrorNamesTheValue)
{
    try {
        numeroEcf("A1");
        FAIL() << "no error";
    } catch (const db::UsageError& e) {
        EXPECT_TRUE(e.message().contains("'A1'")) << e.message().toStdString();
    }
}

// Every form of a number leads back to it and to no other: the key written
// to LICENCA_IF finds the row it was read from, and rows, lines, boxes and
// slots listed by their text come in the numbers' order.
TEST(TerminalNumber, EachFormLeadsBackToItsNumberAndSortsWithIt)
{
    const SlotSet sales = SlotSet::forSales();
    const SlotSet update = SlotSet::forUpdate();
    for (int n = 1; n <= 999; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(numeroEcf(numEcfText(n)), n);
        if (n > 1) {
            EXPECT_LT(numEcfText(n - 1), numEcfText(n));
        }
        if (!hasSlot(n))
            continue;
        EXPECT_EQ(numeroEcf(ecfLabel(n).mid(3)), n);
        EXPECT_EQ(numeroEcf(ecfBoxName(n).mid(3)), n);
        EXPECT_TRUE(onPrefix(n).startsWith(ecfLabel(n) + " ")) << onPrefix(n).toStdString();
        EXPECT_TRUE(offPrefix(n).startsWith(ecfLabel(n) + " ")) << offPrefix(n).toStdString();
        EXPECT_NE(onPrefix(n), offPrefix(n));
        if (n > 1) {
            EXPECT_LT(ecfLabel(n - 1), ecfLabel(n));
            EXPECT_LT(ecfBoxName(n - 1), ecfBoxName(n));
            EXPECT_LT(sales.slotName(n - 1), sales.slotName(n));
            EXPECT_LT(update.slotName(n - 1), update.slotName(n));
        }
        EXPECT_TRUE(sales.slotName(n).startsWith("Quibor_Pdv")) << sales.slotName(n).toStdString();
        EXPECT_TRUE(update.slotName(n).startsWith("Quibor_TrasfPdv")) << update.slotName(n).toStdString();
        // The reference exports take characters 13 to 17 of the name as label.
        EXPECT_EQ(update.slotName(n).mid(12, 5), SlotSet::slotLabel(n));
        EXPECT_EQ(numeroEcf(SlotSet::slotLabel(n).mid(3)), n);
    }
    EXPECT_FALSE(hasSlot(0));
    EXPECT_TRUE(hasSlot(1));
    EXPECT_TRUE(hasSlot(kSlotCount));
    EXPECT_FALSE(hasSlot(kSlotCount + 1));
    EXPECT_EQ(kSlotCount, 33);
}

TEST(TerminalParams, LinesOfATerminalRowInOrder)
{
    LicencaRow row;
    row.banco = "pdv01";
    row.usuario = "sync";
    row.senha = "se nha";
    row.ip = "10.0.0.5";
    row.porta = "5433";
    EXPECT_EQ(terminalParams(row).lines(),
              QStringList({"Database= pdv01", "User_Name= sync", "Password=se nha", "Server= 10.0.0.5",
                           "Port= 5433", "DriverID=PG", "MonitorBy=Remote"}));
}
