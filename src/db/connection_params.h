#pragma once
// The parameter lines that describe one connection ("Database= shop",
// "Port=5433" ...) and their mapping to a client-library connection string.

#include <QString>
#include <QStringList>

namespace db {

class ConnectionParams {
public:
    void clear() { lines_.clear(); }
    void add(const QString& line) { lines_.append(line); }
    const QStringList& lines() const { return lines_; }

    // Value of the first line whose name matches without case, trimmed;
    // empty when absent.
    QString value(const QString& name) const;

    // host/hostaddr, port, dbname, user, password, quoted and escaped.
    QString toConninfo() const;

    // The lines describe a terminal's database, not the server's: its
    // sessions wait less on locks and on a silent peer (db/link_bounds.h).
    // Kept when the lines are cleared and rebuilt.
    void setTerminal(bool terminal) { terminal_ = terminal; }
    bool terminal() const { return terminal_; }

    static ConnectionParams serverDefaultsSales();
    static ConnectionParams serverDefaultsUpdate();
    static ConnectionParams terminalDefaults();

private:
    QStringList lines_;
    bool terminal_ = false;
};

} // namespace db
