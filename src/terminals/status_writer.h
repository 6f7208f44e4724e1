#pragma once
// Rewrites LICENCA_IF.STATUS of every registered terminal from probe results.

#include "terminals/row_snapshot.h"

#include <QString>
#include <optional>
#include <vector>

namespace db {
class Connection;
class Query;
}

namespace terminals {

// Lists every terminal with `listSql` (the callers' texts differ in their
// blanks), probes all of them at once and writes, in NUM_ECF order,
//   answered:  "UPDATE LICENCA_IF SET STATUS = :STATUS WHERE NUM_ECF = :NUM_ECF" with "A"
//   no answer: "UPDATE LICENCA_IF SET  STATUS = :STATUS WHERE NUM_ECF = :NUM_ECF" with "D"
// NUM_ECF bound to the row's text. Used by "Atualizar Dados" and the
// consistency check (both "SELECT * FROM LICENCA_IF ORDER BY NUM_ECF"); the
// start-up pass lists with "SELECT * FROM LICENCA_IF  ORDER BY NUM_ECF" and
// writes through gravarStatus. Raises the first failing statement's error.
// Does not let events run.
void gravarStatusTerminais(db::Connection& server, const QString& listSql, std::optional<int> timeoutMs);

// The writing half of gravarStatusTerminais: STATUS of every row from
// `answered` (one per row), by the same statements in the rows' order.
void gravarStatus(db::Connection& server, const std::vector<RowRead>& rows, const std::vector<bool>& answered);

// Both status passes: a terminal that did not answer is marked off line
// (ECF_STATUS 1) with `update`; only the update window's release button
// clears the mark.
void marcarForaDoAr(db::Query& update, const QString& numEcf);

// Both status passes: whether the server is on line after it answered the
// probe or not. A server that answers again after it was off line is opened.
bool servidorNoAr(db::Connection& server, bool answered, bool wasOnline);

} // namespace terminals
