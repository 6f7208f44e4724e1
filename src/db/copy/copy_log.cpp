#include "db/copy/copy_log.h"

#include "db/errors.h"

#include <QDateTime>

namespace db::copy {
namespace {

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

} // namespace

CopyLog::CopyLog(const QString& path, bool append) : file_(path)
{
    const QIODevice::OpenMode mode = append ? QIODevice::Append : QIODevice::Truncate;
    if (!file_.open(QIODevice::WriteOnly | mode | QIODevice::Text))
        throw Error(QStringLiteral("Não foi possível criar o arquivo de log %1: %2").arg(path, file_.errorString()));
}

void CopyLog::section(const QString& title)
{
    writeLine(QStringLiteral("==== %1 - %2 ====").arg(title, now()));
}

void CopyLog::opening()
{
    writeLine(QStringLiteral("Cópia iniciada em %1").arg(now()));
}

void CopyLog::error(int row, const QString& message)
{
    ++errors_;
    if (row > 0)
        writeLine(QStringLiteral("Erro no registro %1: %2").arg(row).arg(message));
    else
        writeLine(QStringLiteral("Erro: %1").arg(message));
}

void CopyLog::note(const QString& text)
{
    writeLine(text);
}

void CopyLog::closing()
{
    const QString summary = errors_ == 0 ? QStringLiteral("nenhum erro registrado")
                            : errors_ == 1 ? QStringLiteral("1 erro registrado")
                                           : QStringLiteral("%1 erros registrados").arg(errors_);
    writeLine(QStringLiteral("Cópia encerrada em %1: %2").arg(now(), summary));
}

// Written through at once, so the file tells how far a run got even when
// the program ends inside it.
void CopyLog::writeLine(const QString& line)
{
    file_.write(line.toUtf8() + '\n');
    file_.flush();
}

} // namespace db::copy
