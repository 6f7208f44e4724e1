#pragma once
// Customer balances, computed on the server customer by customer each time
// customers are sent: the open instalments (SALDO), the cheques the store
// holds (SALDO_CHEQUE), and the earliest instalment due up to today with
// its value (PR_VENCIMENTO, VALOR_CONTA). Nothing computed here is written
// to the server.

#include <QDate>
#include <memory>

namespace db {
class Connection;
class Dataset;
class MemTable;
class Query;
} // namespace db

namespace update {

class ClientesView;

// The automatic load takes the due date only from instalments whose payment
// method counts in the balance; the manual export from any.
enum class Vencimento { Automatico, Manual };

struct SaldosCliente {
    double saldo = 0;
    double saldoCheque = 0;
    QDate prVencimento;  // zeroDate() when nothing is due up to today
    double valorConta = 0;
};

// Day 0 of the day-count calendar, 30 December 1899: "nothing due".
QDate zeroDate();

// The three per-customer queries on the server connection.
class SaldoClientes {
public:
    SaldoClientes(db::Connection& server, qint64 empresaId, Vencimento variant);
    ~SaldoClientes();
    SaldoClientes(const SaldoClientes&) = delete;
    SaldoClientes& operator=(const SaldoClientes&) = delete;

    // `hoje`: the machine's date when the due-date query runs.
    SaldosCliente calcular(qint64 clienteId, const QDate& hoje);

private:
    qint64 empresaId_;
    Vencimento variant_;
    std::unique_ptr<db::Query> saldo_;
    std::unique_ptr<db::Query> cheques_;
    std::unique_ptr<db::Query> vencimento_;
};

// Appends one export row per customer of `clientes` (complete CLIENTES
// rows, from the first) in their order, with a progress line in Memo1 for
// each and events let through after each; Memo1 is cleared after the last.
// The first failure is raised; the rows stored before it stay.
void montarClientes(db::Dataset& clientes, db::MemTable& table, SaldoClientes& saldos, ClientesView& view);

} // namespace update
