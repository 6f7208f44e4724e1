#pragma once
// Errors of the data-access layer. Every failure carries the text the caller
// shows (the server's own message where there is one).

#include <QString>
#include <stdexcept>
#include <string>

namespace db {

class Error : public std::runtime_error {
public:
    explicit Error(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// Raised by the server or the client library while running a statement.
class DatabaseError : public Error {
public:
    DatabaseError(const QString& message, QString sqlState = {}, QString sql = {})
        : Error(message), sqlState_(std::move(sqlState)), sql_(std::move(sql)) {}
    const QString& sqlState() const { return sqlState_; }
    const QString& sql() const { return sql_; }

private:
    QString sqlState_;
    QString sql_;
};

// The link to the server is gone (or could not be made); reconnect logic
// catches exactly this.
class BrokenConnection : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

// The peer stopped answering a statement within its bound: the statement
// was cancelled and the link dropped. Never run again on a new link: the
// peer that did not answer would most likely keep the caller waiting again.
class NoAnswer : public BrokenConnection {
public:
    using BrokenConnection::BrokenConnection;
};

// Misuse by the caller: an unknown parameter or field name, a value that
// cannot be converted, a statement run without a connection, a second
// sender on a connection whose statement is still unanswered.
class UsageError : public Error {
public:
    using Error::Error;
};

} // namespace db
