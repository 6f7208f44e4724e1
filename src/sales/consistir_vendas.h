#pragma once
// Consistir_Vendas: re-sends the items and instalments of recent sales whose
// items do not add up on the server. Only its frame stands yet: it completes
// at once, which clears the pending automatic check.

namespace db {
class Connection;
}

namespace sales {

struct ConsistirLinks {
    db::Connection& server;   // Quibor_Server of the sales window
    bool& consistirPendente;  // the window's Consistir_Pendente
};

class Consistir_Vendas {
public:
    explicit Consistir_Vendas(ConsistirLinks links);

    void run();

private:
    ConsistirLinks links_;
};

} // namespace sales
