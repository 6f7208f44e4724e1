#pragma once
// One statement of a copy run, prepared on the destination under a name of
// its own the first time it runs and released when the run ends: the hook's
// statements run on the same connection between rows, so an unnamed
// statement would not survive them.

#include "db/copy/copy_pq.h"

#include <QByteArray>
#include <vector>

namespace db::copy {

class PreparedStatement {
public:
    PreparedStatement(PGconn* conn, QByteArray sql);
    // Parameters of the given types (the server infers the others).
    PreparedStatement(PGconn* conn, QByteArray sql, std::vector<unsigned> types);
    ~PreparedStatement();
    PreparedStatement(const PreparedStatement&) = delete;
    PreparedStatement& operator=(const PreparedStatement&) = delete;

    const QByteArray& sql() const { return sql_; }

    // Runs it and waits; raises on failure.
    PgResult execute(const std::vector<const char*>& params);
    // Queues it in pipeline mode; raises only when it cannot be queued.
    void send(const std::vector<const char*>& params);
    // Prepares now unless done already (pipeline mode cannot wait for it).
    void prepare();

private:
    PGconn* conn_;
    QByteArray sql_;
    QByteArray name_;
    std::vector<unsigned> types_;
    bool prepared_ = false;
};

} // namespace db::copy
