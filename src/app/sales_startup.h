#pragma once
// The sales window's creation, which is the program's start-up: server
// connection from the INI file, current company, start-up terminal pass,
// abertura stamp, listener, version stamp, caption, consistency button and
// the single-instance guard.

namespace sales {
class TFrmConversor_Vendas;
}

namespace app {

enum class StartOutcome {
    Started,        // every step ran; this copy goes on
    Interrupted,    // an unguarded step failed (standard error box shown); the window stays
    AnotherRunning, // a copy with an update window already runs, or the guard
                    // could not tell: this one must end
};

StartOutcome runSalesStartup(sales::TFrmConversor_Vendas& window);

} // namespace app
