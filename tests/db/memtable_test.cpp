#include "db/errors.h"
#include "db/memtable.h"

#include <gtest/gtest.h>

namespace {

using Type = db::MemTable::Type;

// The shape of the customer export table, cut down.
void defineCustomers(db::MemTable& t)
{
    t.addField("CLIENTE_ID", Type::Integer);
    t.addField("NOME", Type::Text, 10);
    t.addField("SALDO", Type::Float);
    t.addField("PR_VENCIMENTO", Type::Date);
    t.addIndex("", "CLIENTE_ID", true);
    t.addIndex("TEMP", "NOME;PR_VENCIMENTO");
}

void addCustomer(db::MemTable& t, qint64 id, const QString& nome, double saldo, const QDate& vencimento)
{
    t.append();
    t.setInteger("CLIENTE_ID", id);
    t.setText("nome", nome);
    t.setFloat("SALDO", saldo);
    t.setDateTime("PR_VENCIMENTO", QDateTime(vencimento, QTime(15, 30)));
    t.post();
}

QStringList walk(db::MemTable& t)
{
    QStringList out;
    t.first();
    for (int guard = 0; !t.eof() && guard < 100; ++guard) {
        out << QString::number(t.field("CLIENTE_ID").asInteger());
        t.next();
    }
    return out;
}

TEST(MemTableTest, ReadsBackInTheChosenIndexOrder)
{
    db::MemTable t;
    defineCustomers(t);
    t.setIndex("temp"); // chosen before the table exists, name without case
    t.create();
    EXPECT_TRUE(t.isEmpty());
    EXPECT_TRUE(t.eof());

    addCustomer(t, 1, "maria", 10.5, QDate(2024, 5, 1));
    addCustomer(t, 2, "Ana", 0.1 + 0.2, QDate(2024, 1, 1));
    addCustomer(t, 3, "MARIA", 0, QDate(2024, 4, 1));
    addCustomer(t, 4, "ana", -1, QDate(2024, 1, 1)); // equal key: after its equal
    addCustomer(t, 5, "Bruno", 2, QDate());
    EXPECT_EQ(t.recordCount(), 5);

    EXPECT_EQ(walk(t), QStringList({"2", "4", "5", "3", "1"}));
    t.setIndex("");
    EXPECT_EQ(walk(t), QStringList({"1", "2", "3", "4", "5"}));
    t.setIndex("TEMP");

    // Fields read like a result set's.
    t.first();
    EXPECT_EQ(t.field("nome").asString(), "Ana");
    EXPECT_EQ(t.field("SALDO").asFloat(), 0.1 + 0.2);
    EXPECT_EQ(t.field("PR_VENCIMENTO").asDateTime(), QDateTime(QDate(2024, 1, 1), QTime(0, 0))) << "a date keeps no time";
    EXPECT_EQ(t.fieldKind(t.fieldIndex("PR_VENCIMENTO")), db::FieldKind::Date);
    t.next();
    t.next();
    EXPECT_TRUE(t.field("PR_VENCIMENTO").isNull());
    EXPECT_EQ(t.field("PR_VENCIMENTO").asDateTime(), db::zeroDateTime());
    EXPECT_THROW(t.field("NAO_HA"), db::UsageError);
    EXPECT_THROW(t.setIndex("NAO_HA"), db::UsageError);
}

TEST(MemTableTest, PrimaryIndexRefusesASecondRowWithTheSameKey)
{
    db::MemTable t;
    defineCustomers(t);
    t.create();
    addCustomer(t, 7, "a", 1, QDate(2024, 1, 1));
    try {
        addCustomer(t, 7, "b", 2, QDate(2024, 1, 2));
        ADD_FAILURE() << "duplicate accepted";
    } catch (const db::UsageError& e) {
        EXPECT_TRUE(e.message().contains("7")) << e.what();
    }
    t.cancel();
    EXPECT_EQ(t.recordCount(), 1);
    addCustomer(t, 8, "b", 2, QDate(2024, 1, 2));
    EXPECT_EQ(t.recordCount(), 2);

    t.emptyTable();
    EXPECT_TRUE(t.isEmpty());
    addCustomer(t, 7, "again", 1, QDate(2024, 1, 1));
    EXPECT_EQ(t.recordCount(), 1);
}

TEST(MemTableTest, ValuesAreStoredAsTheirFieldsHoldThem)
{
    db::MemTable t;
    defineCustomers(t);
    t.create();
    t.append();
    t.setText("CLIENTE_ID", "0042");
    t.setText("NOME", "Um nome longo demais");  // width 10: cut
    t.setText("SALDO", "12.75");
    t.setText("PR_VENCIMENTO", "2024-06-30");
    t.post();
    EXPECT_EQ(t.field("CLIENTE_ID").asInteger(), 42);
    EXPECT_EQ(t.field("NOME").asString(), "Um nome lo");
    EXPECT_EQ(t.field("SALDO").asFloat(), 12.75);
    EXPECT_EQ(t.field("PR_VENCIMENTO").asDateTime().date(), QDate(2024, 6, 30));

    t.append();
    EXPECT_THROW(t.setText("CLIENTE_ID", "A1"), db::UsageError);
    EXPECT_THROW(t.setText("NAO_HA", "x"), db::UsageError);
    t.cancel();
    EXPECT_THROW(t.setText("NOME", "x"), db::UsageError) << "not appending";
    EXPECT_THROW(t.post(), db::UsageError);
    EXPECT_THROW(t.addField("OUTRO", Type::Text), db::UsageError) << "already created";
}

} // namespace
