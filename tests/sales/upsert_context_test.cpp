// What the hook's branches share: statements and source columns are found
// by their text, whatever buffer the caller keeps it in.

#include "db/connection.h"
#include "db/memtable.h"
#include "db/query.h"
#include "sales/import_cells.h"
#include "sales/upsert_context.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(UpsertContext, StatementsAndColumnsAreKeyedByTheirTextNotByItsAddress)
{
    db::Connection server; // statements are only built here, never run
    sales::ImportCells cells;
    sales::UpsertContext ctx(server, cells);

    // One buffer holding two texts in turn, as a caller building SQL would.
    char sql[32] = "SELECT 1 AS A";
    db::Query& first = ctx.statement(sql);
    std::strcpy(sql, "SELECT 2 AS B");
    EXPECT_EQ(ctx.statement(sql).text(), "SELECT 2 AS B");
    // The same text from another buffer is the same statement.
    const std::string again = "SELECT 1 AS A";
    EXPECT_EQ(&ctx.statement(again.c_str()), &first);

    db::MemTable row;
    row.addField("VALOR", db::MemTable::Type::Text);
    row.addField("NUM_DOC", db::MemTable::Type::Text);
    row.create();
    row.append();
    row.setText("VALOR", "30.00");
    row.setText("NUM_DOC", "57");
    row.post();
    row.first();

    const sales::SourceRow source(row, ctx.sourceColumns);
    char column[16] = "VALOR";
    EXPECT_EQ(source.text(column), "30.00");
    std::strcpy(column, "NUM_DOC");
    EXPECT_EQ(source.text(column), "57");
}

} // namespace
