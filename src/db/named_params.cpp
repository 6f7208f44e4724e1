#include "db/named_params.h"

namespace db {
namespace {

bool isNameStart(QChar ch)
{
    return (ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z') || ch == u'_';
}

bool isNameChar(QChar ch)
{
    return isNameStart(ch) || (ch >= u'0' && ch <= u'9');
}

// Identifier characters the server accepts, so "a$b" is not a dollar quote.
bool isIdentifierChar(QChar ch)
{
    return isNameChar(ch) || ch == u'$' || ch.unicode() >= 0x80;
}

// Scanner over one statement text; each skip* consumes a construct in which
// a colon means nothing and returns the position after it.
class Scanner {
public:
    explicit Scanner(const QString& sql) : s_(sql), n_(sql.size()) {}

    qsizetype quoted(qsizetype i, QChar quote, bool backslashEscapes) const
    {
        ++i; // opening quote
        while (i < n_) {
            const QChar ch = s_[i];
            if (backslashEscapes && ch == u'\\') {
                i += 2;
                continue;
            }
            if (ch == quote) {
                if (i + 1 < n_ && s_[i + 1] == quote) {
                    i += 2; // doubled quote stands for itself
                    continue;
                }
                return i + 1;
            }
            ++i;
        }
        return n_; // unterminated: the rest is inside
    }

    qsizetype lineComment(qsizetype i) const
    {
        while (i < n_ && s_[i] != u'\n')
            ++i;
        return i;
    }

    qsizetype blockComment(qsizetype i) const
    {
        int depth = 0; // the server nests block comments
        while (i < n_) {
            if (s_[i] == u'/' && i + 1 < n_ && s_[i + 1] == u'*') {
                ++depth;
                i += 2;
            } else if (s_[i] == u'*' && i + 1 < n_ && s_[i + 1] == u'/') {
                i += 2;
                if (--depth == 0)
                    return i;
            } else {
                ++i;
            }
        }
        return n_;
    }

    // Length of the "$tag$" opening at i, or 0 when i does not open one.
    qsizetype dollarTag(qsizetype i) const
    {
        if (i > 0 && isIdentifierChar(s_[i - 1]))
            return 0;
        qsizetype j = i + 1;
        if (j < n_ && !isNameStart(s_[j]) && s_[j] != u'$')
            return 0; // "$1" and the like
        while (j < n_ && isNameChar(s_[j]))
            ++j;
        if (j < n_ && s_[j] == u'$')
            return j - i + 1;
        return 0;
    }

    qsizetype dollarQuoted(qsizetype i, qsizetype tagLength) const
    {
        const QStringView tag = QStringView(s_).mid(i, tagLength);
        const qsizetype close = s_.indexOf(tag, i + tagLength);
        return close < 0 ? n_ : close + tagLength;
    }

private:
    const QString& s_;
    qsizetype n_;
};

} // namespace

PositionalSql toPositional(const QString& sql)
{
    PositionalSql out;
    out.sql.reserve(sql.size());
    const Scanner scan(sql);
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto copyTo = [&](qsizetype end) {
        out.sql.append(QStringView(sql).mid(i, end - i));
        i = end;
    };

    while (i < n) {
        const QChar ch = sql[i];
        const QChar next = i + 1 < n ? sql[i + 1] : QChar();
        if (ch == u'\'') {
            const bool escapes = i > 0 && (sql[i - 1] == u'E' || sql[i - 1] == u'e')
                && (i < 2 || !isIdentifierChar(sql[i - 2]));
            copyTo(scan.quoted(i, u'\'', escapes));
        } else if (ch == u'"') {
            copyTo(scan.quoted(i, u'"', false));
        } else if (ch == u'-' && next == u'-') {
            copyTo(scan.lineComment(i));
        } else if (ch == u'/' && next == u'*') {
            copyTo(scan.blockComment(i));
        } else if (ch == u'$') {
            const qsizetype tag = scan.dollarTag(i);
            copyTo(tag > 0 ? scan.dollarQuoted(i, tag) : i + 1);
        } else if (ch == u':' && next == u':') {
            copyTo(i + 2); // a cast
        } else if (ch == u':' && isNameStart(next)) {
            qsizetype end = i + 2;
            while (end < n && isNameChar(sql[end]))
                ++end;
            const QString name = sql.mid(i + 1, end - i - 1).toUpper();
            qsizetype index = out.names.indexOf(name);
            if (index < 0) {
                out.names.append(name);
                index = out.names.size() - 1;
            }
            out.sql.append(u'$').append(QString::number(index + 1));
            i = end;
        } else {
            copyTo(i + 1);
        }
    }
    return out;
}

} // namespace db
