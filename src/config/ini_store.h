#pragma once
// Writing the server connection into Quibor.ini in the form the program
// reads and the store's Windows installer writes: section "Conexão
// Postgres", CRLF line ends, Windows-1252 text, user name and password with
// every character's code raised by 3.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace app {

// Raises every UTF-16 code unit of `text` by `shift`, keeping the order:
// what Decodifica reads back.
QString Codifica(const QString& text, int shift);

struct IniConnection {
    QString host;     // "Server Name"
    QString port;     // "Porta"
    QString database; // "Base Name"
    QString user;     // "User Name", as typed (stored raised)
    QString password; // "Password", as typed (stored raised)
};

// The characters of `text` that cannot be stored in the file as they would
// be written (raised by `shift`): control characters, and those the code
// page has no byte for. Each is named as 'c' (U+XXXX); empty when all can.
QStringList unstorableCharacters(const QString& text, int shift = 0);

// `previous` (an existing file's bytes, or nothing) with the connection
// written into its section: the five keys' first lines replaced in place,
// later ones of the same key dropped, missing ones added at the end of the
// section, the section added at the end of the file when there is none.
// Every other line is kept. Nothing when a kept line cannot be written in
// the code page.
std::optional<QByteArray> iniWithConnection(const QByteArray& previous, const IniConnection& connection);

// What an existing file holds, user name decoded; the password is left out.
IniConnection iniConnectionOf(const QByteArray& contents);

} // namespace app
