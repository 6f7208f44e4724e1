#include "app/configure_command.h"

#include "app/server_check.h"
#include "common/log_path.h"
#include "config/ini_keys.h"
#include "config/ini_store.h"
#include "config/server_params.h"
#include "platform/file_replace.h"
#include "platform/hidden_input.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <iostream>
#include <string>

namespace app {
namespace {

// The windows' own connect time-out.
constexpr std::chrono::seconds kConnectTimeout{5};

constexpr char kDefaultPort[] = "5432";

// Ends the command with status 1 and one line saying why.
struct Refusal {
    QString why;
};

std::optional<QString> stdinLine()
{
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
}

// A whole number from 1 to 65535, written without sign or blanks inside.
bool isPort(const QString& text)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    const int n = text.toInt();
    return n >= 1 && n <= 65535;
}

// One of the five values, from an option, an answer or the current file.
class Values {
public:
    Values(const ConfigureOptions& options, ConfigureConsole& console, const IniConnection& current)
        : options_(options), console_(console), current_(current)
    {
    }

    IniConnection gather()
    {
        IniConnection c;
        c.host = plain(value(options_.host, QStringLiteral("server host"), QStringLiteral("--host"), current_.host),
                       QStringLiteral("server host"));
        c.port = value(options_.port, QStringLiteral("port"), QStringLiteral("--port"),
                       current_.port.isEmpty() ? QString::fromLatin1(kDefaultPort) : current_.port)
                     .trimmed();
        if (!isPort(c.port))
            throw Refusal{QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(c.port)};
        c.database = plain(value(options_.database, QStringLiteral("database"), QStringLiteral("--database"),
                                 current_.database),
                           QStringLiteral("database"));
        c.user = value(options_.user, QStringLiteral("user name"), QStringLiteral("--user"), current_.user);
        shifted(c.user, QStringLiteral("user name"));
        c.password = password();
        return c;
    }

private:
    QString value(const std::optional<QString>& option, const QString& what, const QString& flag,
                  const QString& current)
    {
        if (options_.optionForm()) {
            if (option)
                return *option;
            if (!current.isEmpty())
                return current;
            throw Refusal{QStringLiteral("no %1 given (%2) and Quibor.ini has none").arg(what, flag)};
        }
        console_.say(current.isEmpty() ? QStringLiteral("%1: ").arg(capitalised(what))
                                       : QStringLiteral("%1 [%2]: ").arg(capitalised(what), current));
        const std::optional<QString> answer = console_.readLine();
        if (!answer)
            throw Refusal{QStringLiteral("end of input at the prompt for the %1; nothing written").arg(what)};
        return answer->trimmed().isEmpty() ? current : *answer;
    }

    QString password()
    {
        std::optional<QString> answer;
        if (options_.optionForm()) {
            if (!options_.passwordFromStdin)
                throw Refusal{QStringLiteral("the password comes from standard input: add --password-stdin")};
            answer = console_.readLine();
        } else {
            console_.say(QStringLiteral("Password: "));
            answer = console_.readHiddenLine();
        }
        if (!answer)
            throw Refusal{QStringLiteral("end of input at the prompt for the password; nothing written")};
        shifted(*answer, QStringLiteral("password"));
        return *answer;
    }

    // Host and database: trimmed, not empty, every character storable.
    static QString plain(const QString& value, const QString& what)
    {
        const QString v = value.trimmed();
        if (v.isEmpty())
            throw Refusal{QStringLiteral("the %1 may not be empty").arg(what)};
        if (const QStringList bad = unstorableCharacters(v); !bad.isEmpty())
            throw Refusal{QStringLiteral("the %1 holds characters Quibor.ini cannot store: %2")
                              .arg(what, bad.join(QStringLiteral(", ")))};
        return v;
    }

    // User name and password: taken as typed, stored raised. The program
    // ignores an INI file whose user name or password is empty.
    static void shifted(const QString& value, const QString& what)
    {
        if (value.isEmpty())
            throw Refusal{QStringLiteral("the %1 may not be empty: the program ignores Quibor.ini without one")
                              .arg(what)};
        if (const QStringList bad = unstorableCharacters(value, kIniShift); !bad.isEmpty())
            throw Refusal{QStringLiteral("the %1 holds characters that cannot be stored shifted by %2: %3")
                              .arg(what, QString::number(kIniShift), bad.join(QStringLiteral(", ")))};
    }

    static QString capitalised(const QString& what)
    {
        return what.left(1).toUpper() + what.mid(1);
    }

    const ConfigureOptions& options_;
    ConfigureConsole& console_;
    const IniConnection& current_;
};

QString rootHint(const QString& folder)
{
    if (runningAsRoot())
        return {};
    return QStringLiteral("; run it as root: sudo %1quiborsync --configure").arg(folder);
}

void configure(const ConfigureOptions& options, ConfigureConsole& console)
{
    const QString folder = common::programFolder();
    const QString path = iniPath();
    // A Quibor.ini that is a link (to a folder of the system's settings,
    // say) stays one: the file it leads to is replaced, and its backup kept
    // beside it, in the one folder the command must be able to write.
    QString target;
    try {
        target = replacementTarget(path);
    } catch (const FileReplaceError& e) {
        throw Refusal{e.message()};
    }
    const bool throughLink = target != path;
    const QString targetFolder = throughLink ? QFileInfo(target).absolutePath() : folder;
    // Said before anything is asked: the answers could not be kept.
    if (!folderWritable(targetFolder))
        throw Refusal{QStringLiteral("cannot write %1 in %2 (no right to write there)%3")
                          .arg(QFileInfo(target).fileName(), targetFolder, rootHint(folder))};

    QByteArray previous;
    const bool existed = QFile::exists(path);
    if (QFile file(path); existed) {
        if (!file.open(QIODevice::ReadOnly))
            throw Refusal{QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
        previous = file.readAll();
    }
    const IniConnection connection = Values(options, console, iniConnectionOf(previous)).gather();
    const std::optional<QByteArray> bytes = iniWithConnection(previous, connection);
    if (!bytes)
        throw Refusal{QStringLiteral("%1 holds text that cannot be written back in Windows-1252; nothing written")
                          .arg(path)};

    // Exactly what the program will read from the file about to be written.
    console.say(QStringLiteral("Connecting to %1:%2, database %3, as %4 ...\n")
                    .arg(connection.host, connection.port, connection.database, connection.user));
    const ServerCheck check = checkServer(serverParamsFromIniContents(*bytes, {}), kConnectTimeout);
    if (!check.ok)
        throw Refusal{check.failure + QStringLiteral("; nothing written")};
    console.say(QStringLiteral("Connected: %1 registered in LICENCA_IF.\n")
                    .arg(check.terminals == 1 ? QStringLiteral("1 terminal")
                                              : QString::number(check.terminals) + QStringLiteral(" terminals")));

    const QString backup = target + QStringLiteral(".bak");
    try {
        replaceFile(path, *bytes, backup);
    } catch (const FileReplaceError& e) {
        throw Refusal{e.message() + rootHint(folder)};
    }
    if (throughLink)
        console.say(!existed ? QStringLiteral("Wrote %1 through the link %2.\n").arg(target, path)
                             : QStringLiteral("Wrote %1 through the link %2 (the previous file is kept as %3).\n")
                                   .arg(target, path, backup));
    else
        console.say(!existed ? QStringLiteral("Wrote %1.\n").arg(path)
                             : QStringLiteral("Wrote %1 (the previous file is kept as Quibor.ini.bak).\n").arg(path));

    // The copy runs need their log folder and do not make it.
    const QString logs = folder + QStringLiteral("QuiborSync_Logs");
    if (!QFileInfo(logs).isDir())
        console.say(QStringLiteral("Note: %1/ is missing; the imports and exports write their logs there. "
                                   "Make it with: mkdir -m 1777 %1\n")
                        .arg(logs));
    else if (!folderWritable(logs))
        console.say(QStringLiteral("Note: %1/ is not writable for this user; the program's user must be able "
                                   "to write its logs there.\n")
                        .arg(logs));
    else
        console.say(QStringLiteral("%1/ is there and writable.\n").arg(logs));
}

} // namespace

std::optional<QString> StandardConsole::readLine()
{
    return stdinLine();
}

std::optional<QString> StandardConsole::readHiddenLine()
{
    HiddenInput hidden;
    std::optional<QString> line = stdinLine();
    // Typed at a terminal, the line end showed; piped in, nothing did.
    if (!hidden.active())
        say(QStringLiteral("\n"));
    return line;
}

void StandardConsole::say(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void StandardConsole::complain(const QString& line)
{
    const QByteArray bytes = (line + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

int runConfigureCommand(const ConfigureOptions& options, ConfigureConsole& console)
{
    try {
        configure(options, console);
        return 0;
    } catch (const Refusal& r) {
        console.complain(QStringLiteral("quiborsync --configure: ") + r.why.simplified());
        return 1;
    }
}

} // namespace app
