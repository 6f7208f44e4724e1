#pragma once
// A transaction on one connection that rolls back unless committed, so
// statements that belong together take effect together or not at all.

#include "db/connection.h"

namespace db {

class ScopedTransaction {
public:
    explicit ScopedTransaction(Connection& connection) : connection_(connection) { connection_.startTransaction(); }
    ~ScopedTransaction()
    {
        if (!open_)
            return;
        try {
            connection_.rollback();
        } catch (...) {
            // The link is gone; the server has dropped the transaction.
        }
    }
    ScopedTransaction(const ScopedTransaction&) = delete;
    ScopedTransaction& operator=(const ScopedTransaction&) = delete;

    void commit()
    {
        open_ = false;
        connection_.commit();
    }

private:
    Connection& connection_;
    bool open_ = true;
};

} // namespace db
