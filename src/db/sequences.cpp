#include "db/sequences.h"

#include "db/query.h"

namespace db {
namespace {

// The statement's single parameter carries the sequence's own name.
qint64 nextValue(Connection& server, const QString& sql, const QString& sequence)
{
    Query q(server);
    q.setText(sql);
    q.bindText(sequence, sequence);
    q.prepare();
    q.open();
    return q.field(QStringLiteral("ID")).asInteger();
}

} // namespace

qint64 nextTransacaoId(Connection& server)
{
    return nextValue(server, QStringLiteral("SELECT NEXTVAL(:GEN_TRANSACOES) ID"), QStringLiteral("GEN_TRANSACOES"));
}

qint64 nextFechamentoId(Connection& server)
{
    return nextValue(server, QStringLiteral("SELECT NEXTVAL(:GEN_FECHAMENTO) ID"), QStringLiteral("GEN_FECHAMENTO"));
}

} // namespace db
