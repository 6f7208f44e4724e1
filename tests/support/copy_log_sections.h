#pragma once
// A copy log read back as the sections a run over several terminals leaves
// in it: each starts with its header line "==== Ecf 001 - <date> <time> ===="
// and holds that terminal's entries up to the next header.

#include "common/log_path.h"

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <vector>

namespace testsupport {

struct LogSection {
    QString title; // "Ecf 001"
    QString entries; // the lines below the header, joined with '\n'
};

// The sections of "QuiborSync_Logs\<name>" under the program folder; lines
// before the first header (a log written without sections) come under an
// empty title. Empty when the file is missing.
inline std::vector<LogSection> logSections(const QString& name)
{
    QFile file(common::programPath("QuiborSync_Logs\\" + name));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    static const QRegularExpression header("^==== (.+) - \\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2} ====$");
    std::vector<LogSection> sections;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = header.match(line);
        if (m.hasMatch()) {
            sections.push_back({ m.captured(1), {} });
            continue;
        }
        if (sections.empty())
            sections.push_back({});
        QString& entries = sections.back().entries;
        entries += (entries.isEmpty() ? "" : "\n") + line;
    }
    return sections;
}

// The titles, in file order.
inline QStringList logSectionTitles(const std::vector<LogSection>& sections)
{
    QStringList titles;
    for (const LogSection& s : sections)
        titles << s.title;
    return titles;
}

} // namespace testsupport
