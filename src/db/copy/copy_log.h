#pragma once
// The log file of one copy run, created anew (emptied) when the run starts:
// an opening entry with date and time, one entry per error, a closing line.

#include <QFile>
#include <QString>

namespace db::copy {

class CopyLog {
public:
    // Raises db::Error naming the path when the file cannot be created
    // (its folder must already exist).
    explicit CopyLog(const QString& path);
    CopyLog(const CopyLog&) = delete;
    CopyLog& operator=(const CopyLog&) = delete;

    void opening();
    // `row` is the source row's number (1 for the first), 0 when none.
    void error(int row, const QString& message);
    void closing();

private:
    void writeLine(const QString& line);

    QFile file_;
    int errors_ = 0;
};

} // namespace db::copy
