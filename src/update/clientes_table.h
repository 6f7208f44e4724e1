#pragma once
// The customer export table: one row per customer to send, its master data
// cut to the terminal's widths and its balances computed on the server,
// read back by name, then due date (index "TEMP") whatever order the rows
// were added in. The automatic load keeps one (Fdac_temp_auto), the manual
// export another (Fdac_Temp).

#include <functional>
#include <memory>

namespace db {
class MemTable;
}

namespace update {

// A new, empty table with its 26 fields, the unique index on CLIENTE_ID and
// "TEMP" as its order.
std::unique_ptr<db::MemTable> criarTabelaClientes();

// How a run makes its table; tests replace it to make the creation fail.
using CriarTabelaClientes = std::function<std::unique_ptr<db::MemTable>()>;

} // namespace update
