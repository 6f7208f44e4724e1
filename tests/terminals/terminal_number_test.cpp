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

TEST(TerminalNumber, FormsOfOneNumber)
{
    EXPECT_EQ(numEcfText(7), "007");
    EXPECT_EQ(numEcfText(33), "033");
    EXPECT_EQ(ecfLabel(7), "Ecf07");
    EXPECT_EQ(ecfBoxName(7), "Ecf007");
    EXPECT_EQ(onPrefix(1), "Ecf01 - ON - ");
    EXPECT_EQ(offPrefix(33), "Ecf33 - OFF - ");
    EXPECT_FALSE(hasSlot(0));
    EXPECT_TRUE(hasSlot(1));
    EXPECT_TRUE(hasSlot(33));
    EXPECT_FALSE(hasSlot(34));
}

TEST(TerminalNumber, SlotNamesOfBothWindows)
{
    const SlotSet sales = SlotSet::forSales();
    const SlotSet update = SlotSet::forUpdate();
    EXPECT_EQ(sales.slotName(1), "Quibor_Pdv01");
    EXPECT_EQ(sales.slotName(33), "Quibor_Pdv33");
    EXPECT_EQ(update.slotName(7), "Quibor_TrasfPdv07");
    // The reference exports take characters 13 to 17 of the name as label.
    EXPECT_EQ(update.slotName(7).mid(12, 5), SlotSet::slotLabel(7));
    EXPECT_EQ(SlotSet::slotLabel(7), "Pdv07");
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
