#pragma once
// The server's product lists that go with a product-load request: which
// products a terminal is told about. The terminal key and the company are
// bound values, never pasted into the text.

#include <QDate>
#include <QString>
#include <QtGlobal>

namespace db {
class Query;
}

namespace update {

struct ProdutosQuery {
    QString sql;
    QString numEcf;     // bound to :NUM_ECF where the text has it
    qint64 empresa = 0; // bound to :EMPRESA_ID where the text has it

    // Resale and finished products of the company changed since the
    // terminal's last sync (date and time compared apart); by description.
    static ProdutosQuery automatica(const QString& numEcf, qint64 empresa);
    // Resale products of the company changed since the terminal's last
    // sync: date and time when that sync was today, the date alone when it
    // was another day or never; by product id.
    static ProdutosQuery alterados(const QString& numEcf, qint64 empresa, bool syncedToday);
    // Every product with a tax and a price, of any company.
    static ProdutosQuery todos();

    // Sets the text on `q`, binds what it names, prepares and opens it.
    void open(db::Query& q) const;
};

} // namespace update
