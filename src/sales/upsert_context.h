#pragma once
// What the branches of the sales-import hook share: the server connection
// with one statement object per SQL text (so each text is prepared once per
// connection), the process-wide cells, the stock-location settings, and the
// rows the hook could not bring to the server.

#include "db/pipeline.h"
#include "db/query.h"
#include "db/value.h"
#include "sales/import_cells.h"

#include <QDateTime>
#include <QString>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace db {
class Connection;
class Dataset;
} // namespace db

namespace sales {

// CONFIG columns that steer the stock-location rows.
struct StockLocationSettings {
    bool enabled = false; // CONTROLE_ESTQ_LOC reads exactly "True"
    qint64 localizacaoId = 0; // LOCALIZACAO_ID_PDV
    QString descricao; // LOCALIZACAO_DESCRICAO_PDV
};

// Key values of a terminal row to send again (its table's giveBackKey order).
using RowKey = std::vector<db::Value>;

// How a terminal row names its sale: the sale's TRANSACAO_ORIGEM, the
// terminal number and the sale's DT_TRANS.
struct SaleLink {
    qint64 origem = 0;
    qint64 bancoId = 0;
    QDateTime dtTrans;
    bool operator<(const SaleLink& o) const
    {
        return std::tie(origem, bancoId, dtTrans) < std::tie(o.origem, o.bancoId, o.dtTrans);
    }
};

// Server sale ids of the current terminal's sales, as found or inserted.
// A sale's five items and its instalment and complement then do not each
// look it up again. Forgotten when a terminal begins and whenever sales
// may have left the server (the cancellation step).
class KnownSales {
public:
    void remember(const SaleLink& link, qint64 transacaoId) { ids_[link] = transacaoId; }
    qint64 find(const SaleLink& link) const
    {
        auto it = ids_.find(link);
        return it == ids_.end() ? 0 : it->second;
    }
    void forget() { ids_.clear(); }

private:
    std::map<SaleLink, qint64> ids_;
};

// A receipt's payment lines of one amount: the server tells them apart
// only by their order.
struct ClosingKey {
    QString cupom;
    qint64 caixaId = 0;
    QDateTime data;
    double valor = 0;
    bool operator<(const ClosingKey& o) const
    {
        return std::tie(cupom, caixaId, data, valor) < std::tie(o.cupom, o.caixaId, o.data, o.valor);
    }
};

// Server FECHAMENTO_IDs of such lines, in that order, as they stood when
// the copy run executing first met them: what earlier runs brought, not
// what this run inserts.
using ClosingsBefore = std::map<ClosingKey, std::vector<qint64>>;

// Hash and equality for maps keyed by a text, searchable with a
// std::string_view: a lookup builds no string, and a text kept in any
// buffer finds the entry made for the same text elsewhere.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
};
template <typename T>
using TextMap = std::unordered_map<std::string, T, TextHash, std::equal_to<>>;

// Where each source column sits in the copy run's reader, found by name
// once per run rather than once per row.
using ColumnPositions = TextMap<int>;

// The copy run's current row, read as the hook binds its values.
class SourceRow {
public:
    SourceRow(const db::Dataset& set, ColumnPositions& positions)
        : set_(set)
        , positions_(positions)
    {
    }

    // Raises db::UsageError naming a column the reader lacks.
    db::Field field(const char* column) const;
    QString text(const char* column) const;
    qint64 integer(const char* column) const;
    double decimal(const char* column) const;
    QDateTime dateTime(const char* column) const;
    // Byte string: a text in the system's 8-bit code page.
    QByteArray bytes(const char* column) const;

    const db::Dataset& dataset() const { return set_; }

private:
    const db::Dataset& set_;
    ColumnPositions& positions_;
};

struct UpsertContext {
    UpsertContext(db::Connection& server, ImportCells& cells);

    // The statement object for the text `sql`, with its text set; callers
    // bind, prepare and run it.
    db::Query& statement(const char* sql);

    // Remembers the source row's key so the driver hands the row back to
    // the next import instead of marking it imported.
    void giveBack(const SourceRow& source, const QStringList& keyColumns);
    static RowKey keyOf(const SourceRow& source, const QStringList& keyColumns);

    // A write whose outcome decides nothing sent next: sent at once, its
    // answer read with that of the next statement (findsRow()), or by
    // settle(). Exactly one of the two is called then, in sending order;
    // without `failed`, its error is raised by the call that reads it, once
    // every answer read with it has been handled. `failed` hears only of a
    // write refused for its own data: a failure of the link (the write may
    // or may not have arrived) calls neither, and is raised, before any
    // other error, once every answer read with it has been handled.
    // No statement and no turn of the event loop may come between; run
    // pumpEvents() before, never after it.
    void sendWrite(db::Query& write, std::function<void()> succeeded,
        std::function<void(const std::exception&)> failed);
    // openFindsRow() behind the writes still unanswered (one round trip for
    // all); their outcomes are handled first.
    bool findsRow(db::Query& read);
    // Hears every unanswered write out. Before any other statement on the
    // server and at the end of every copy run.
    void settle();
    // The same where nothing may raise (a run ended by an error, whose rows
    // all stay marked for the next import anyway).
    void settleQuietly() noexcept;
    // Lets events run between rows. A handler in that turn (a click, a
    // notification) may send on the server link, so every write is heard
    // out first; costs nothing when none is unanswered.
    void pumpEvents();

    db::Connection& server;
    ImportCells& cells;
    StockLocationSettings stock;
    std::vector<RowKey> givenBack;
    bool saleInserted = false; // a sale of the current terminal reached the server
    KnownSales knownSales;
    ColumnPositions sourceColumns; // of the copy run executing
    ClosingsBefore closingsBefore; // of the copy run executing
    db::Connection* terminal = nullptr; // the executing copy run reads from it

private:
    struct HeldWrite {
        std::function<void()> succeeded;
        std::function<void(const std::exception&)> failed;
    };
    void report();

    TextMap<std::unique_ptr<db::Query>> statements_;
    db::Pipeline pipeline_;
    std::deque<HeldWrite> held_;
};

// The server id of the sale `link` names, 0 when it is not on the server:
// from the sales already known, else with `lookupSql` (parameters
// TRANSACAO_ORIGEM, BANCO_ID and DATA; first column TRANSACAO_ID).
qint64 findSale(UpsertContext& ctx, const char* lookupSql, const SaleLink& link);

// A field as a byte string: bytes as read, text in the system's 8-bit code page.
QByteArray bytesOf(const db::Field& field);
// A text that must be a whole number; raises db::UsageError naming it.
qint64 wholeNumber(const QString& text);

} // namespace sales
