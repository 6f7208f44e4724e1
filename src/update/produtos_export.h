#pragma once
// Product loads: no product row crosses to a terminal here. Each target
// terminal gets a request code in its own LICENCA_IF (100 automatic, 101
// changes by hand, 102 everything by hand) and the window lists the server
// products the request concerns. Both runs let events run between targets
// and between listed products.

namespace update {

struct ExportLinks;

// Carga_Produtos, started by the "produtos" notification under
// Carga_Auto_Produtos, which it clears on every way out. A target's failure
// is shown (when its connection had opened) and the next target is served;
// a failure of the probe or the target list ends the run with the error.
void Carga_Produtos(const ExportLinks& links);

// The manual product export behind "Carga Produtos p/ Pdv". A target's
// failure is silent; any other failure ends the run with the error, after
// the flag, the check boxes, the EXPORTACAO marks and the button are put
// back as a finished run leaves them.
void Exportar_Produtos(const ExportLinks& links);

} // namespace update
