#pragma once
// The log file of one copy run, created anew (emptied) or added to when the
// run starts: an optional section header naming what the run served, with
// the time; an opening entry with date and time; one entry per error; a
// closing line.

#include <QFile>
#include <QString>

namespace db::copy {

class CopyLog {
public:
    // Raises db::Error naming the path when the file cannot be created or
    // opened (its folder must already exist). `append`: the entries follow
    // what the file holds.
    CopyLog(const QString& path, bool append);
    CopyLog(const CopyLog&) = delete;
    CopyLog& operator=(const CopyLog&) = delete;

    void section(const QString& title);
    void opening();
    // `row` is the source row's number (1 for the first), 0 when none.
    void error(int row, const QString& message);
    // A line of the caller's own, as it is.
    void note(const QString& text);
    void closing();

private:
    void writeLine(const QString& line);

    QFile file_;
    int errors_ = 0;
};

} // namespace db::copy
