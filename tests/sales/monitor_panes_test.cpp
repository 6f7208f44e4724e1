// The sale monitor panes of a program that runs for weeks: they keep the
// latest lines only.

#include "sales/sales_window.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

using sales::MonitorPane;
using sales::TFrmConversor_Vendas;

TEST(MonitorPanes, KeepTheLatestLinesOnly)
{
    TFrmConversor_Vendas window;
    const int bound = TFrmConversor_Vendas::kMonitorPaneLines;
    for (int i = 1; i <= bound + 25; ++i)
        window.appendMonitorLine(MonitorPane::Memo3, QString("Item: %1").arg(i));
    window.appendMonitorLine(MonitorPane::Memo2, "Transação: 1");

    auto* items = window.findChild<QPlainTextEdit*>("Memo3");
    ASSERT_NE(items, nullptr);
    EXPECT_EQ(items->blockCount(), bound);
    EXPECT_EQ(items->document()->firstBlock().text(), QString("Item: %1").arg(26));
    EXPECT_EQ(items->document()->lastBlock().text(), QString("Item: %1").arg(bound + 25));
    // The other panes are untouched.
    EXPECT_EQ(window.findChild<QPlainTextEdit*>("Memo2")->toPlainText(), "Transação: 1");
}

} // namespace
