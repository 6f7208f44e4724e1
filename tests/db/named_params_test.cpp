#include "db/named_params.h"

#include <gtest/gtest.h>

namespace {

TEST(NamedParamsTest, TurnsNamesIntoPositionsAndLeavesOtherColonsAlone)
{
    struct Case {
        const char* what;
        const char* sql;
        const char* positional;
        QStringList names;
    };
    const Case cases[] = {
        {"plain", "SELECT * FROM LICENCA_IF WHERE NUM_ECF = :NUM_ECF", "SELECT * FROM LICENCA_IF WHERE NUM_ECF = $1",
         {"NUM_ECF"}},
        {"a name used twice takes one position",
         "WHERE DT_TRANS >= :DT_INICIO AND DT_TRANS <= :DT_FIM OR DT >= :DT_INICIO AND DT <= :DT_FIM",
         "WHERE DT_TRANS >= $1 AND DT_TRANS <= $2 OR DT >= $1 AND DT <= $2", {"DT_INICIO", "DT_FIM"}},
        {"names without case", "VALUES(:PARCElA_ID, :parcela_id)", "VALUES($1, $1)", {"PARCELA_ID"}},
        {"no blank before the name", "SET STATUS =:STATUS", "SET STATUS =$1", {"STATUS"}},
        {"name runs to the first other character", "(:A1,:_b2)", "($1,$2)", {"A1", "_B2"}},
        {"cast", "SELECT :V::date, x::text", "SELECT $1::date, x::text", {"V"}},
        {"string literal", "SELECT ':NOT', :YES", "SELECT ':NOT', $1", {"YES"}},
        {"doubled quote inside a literal", "SELECT 'it''s :NOT', :YES", "SELECT 'it''s :NOT', $1", {"YES"}},
        {"backslash escape in E'' literal", "SELECT E'a\\' :NOT', :YES", "SELECT E'a\\' :NOT', $1", {"YES"}},
        {"backslash is plain in a standard literal", "SELECT 'a\\', :YES", "SELECT 'a\\', $1", {"YES"}},
        {"quoted identifier", "SELECT \"a:NOT\"\"b\" FROM t WHERE x = :YES",
         "SELECT \"a:NOT\"\"b\" FROM t WHERE x = $1", {"YES"}},
        {"line comment", "SELECT 1 -- :NOT\n, :YES", "SELECT 1 -- :NOT\n, $1", {"YES"}},
        {"nested block comment", "SELECT /* :NOT /* :NOT */ :NOT */ :YES", "SELECT /* :NOT /* :NOT */ :NOT */ $1",
         {"YES"}},
        {"dollar quote", "SELECT $$ :NOT $$, :YES", "SELECT $$ :NOT $$, $1", {"YES"}},
        {"tagged dollar quote", "SELECT $f$ :NOT $$ :NOT $f$, :YES", "SELECT $f$ :NOT $$ :NOT $f$, $1", {"YES"}},
        {"a colon before a digit or blank", "SELECT a[1:2], ': x', : y", "SELECT a[1:2], ': x', : y", {}},
        {"unterminated literal swallows the rest", "SELECT 'abc :NOT", "SELECT 'abc :NOT", {}},
        {"non-ASCII text kept", "SELECT 'ação' AS \"Coração\", :Nº", "SELECT 'ação' AS \"Coração\", $1º", {"N"}},
    };
    for (const Case& c : cases) {
        const db::PositionalSql out = db::toPositional(QString::fromUtf8(c.sql));
        EXPECT_EQ(out.sql, QString::fromUtf8(c.positional)) << c.what;
        EXPECT_EQ(out.names, c.names) << c.what;
    }
}

} // namespace
