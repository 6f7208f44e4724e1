#pragma once
// Server-side prepared statements of one connection, by statement text.
// Bounded: the least recently used one is dropped when it is full, so a
// program that builds texts with values inside cannot grow the server
// session without end.

#include "db/pg_handles.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <list>
#include <optional>
#include <vector>

namespace db {

struct PreparedStatement {
    QByteArray name;
    // Parameter types the server inferred; filled only once a value needs
    // them (bytes go differently to a bytea and to a text).
    bool typesKnown = false;
    std::vector<Oid> paramTypes;
};

class PreparedCache {
public:
    explicit PreparedCache(std::size_t capacity = 256) : capacity_(capacity) {}

    // Marks the entry as recently used; nullptr when absent.
    PreparedStatement* find(const QString& sql);
    // Stores a new entry; returns the name of the entry pushed out, which
    // the caller deallocates on the server.
    std::optional<QByteArray> insert(const QString& sql, PreparedStatement statement);
    void erase(const QString& sql);
    void clear();
    std::size_t size() const { return static_cast<std::size_t>(entries_.size()); }

    // A statement name not used before on this connection.
    QByteArray newName();

private:
    struct Entry {
        PreparedStatement statement;
        std::list<QString>::iterator use;
    };
    std::size_t capacity_;
    QHash<QString, Entry> entries_;
    std::list<QString> recency_; // front: most recently used
    quint64 counter_ = 0;
};

} // namespace db
