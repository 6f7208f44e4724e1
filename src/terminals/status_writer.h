#pragma once
// Rewrites LICENCA_IF.STATUS of every registered terminal from probe results.

#include <QString>
#include <optional>

namespace db {
class Connection;
}

namespace terminals {

// Lists every terminal with `listSql` (the callers' texts differ in their
// blanks), probes all of them at once and writes, in NUM_ECF order,
//   answered:  "UPDATE LICENCA_IF SET STATUS = :STATUS WHERE NUM_ECF = :NUM_ECF" with "A"
//   no answer: "UPDATE LICENCA_IF SET  STATUS = :STATUS WHERE NUM_ECF = :NUM_ECF" with "D"
// NUM_ECF bound to the row's text. Used by the start-up pass ("SELECT * FROM
// LICENCA_IF  ORDER BY NUM_ECF"), "Atualizar Dados" and the consistency check
// (both "SELECT * FROM LICENCA_IF ORDER BY NUM_ECF"). Raises the first
// failing statement's error. Does not let events run.
void gravarStatusTerminais(db::Connection& server, const QString& listSql, std::optional<int> timeoutMs);

} // namespace terminals
