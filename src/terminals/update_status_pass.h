#pragma once
// VerificarConexao of the update window: probes every active terminal 1..33,
// enables or disables its check box, marks the silent ones (ECF_STATUS = 1),
// probes the server, then switches the window's listener on and repaints it
// (UpdateStatusView::statusPassFinished). Never lets events run; errors are
// not caught.
//
// CONFIG is re-read once per pass, before all probes start together.

#include "terminals/status_view.h"
#include "terminals/terminal_number.h"

#include <array>
#include <memory>

namespace db {
class Connection;
class Query;
} // namespace db

namespace terminals {

struct UpdateStatusLinks {
    db::Connection& server;  // Quibor_Server of the update window
    db::Query& qConfig;      // the window's "SELECT * FROM CONFIG" query
    UpdateStatusView& view;  // the check boxes Ecf001..Ecf033
};

class UpdateStatusPass {
public:
    explicit UpdateStatusPass(UpdateStatusLinks links);
    ~UpdateStatusPass();
    UpdateStatusPass(const UpdateStatusPass&) = delete;
    UpdateStatusPass& operator=(const UpdateStatusPass&) = delete;

    // Raises every failure (list, NUM_ECF conversion, marking, server
    // re-open, CONFIG re-read); statusPassFinished is then not called.
    void VerificarConexao();

    bool Servidor_Online() const { return servidorOnline_; }
    // Every active terminal 1..33 and the server answered the last pass.
    bool Ecfs_Online() const { return ecfsOnline_; }
    // Terminal n (1..33) answered the last pass; false for other numbers.
    bool Ecf_Online(int n) const { return hasSlot(n) && ecfOnline_[n]; }

private:
    UpdateStatusLinks links_;
    std::unique_ptr<db::Query> qList_;
    std::unique_ptr<db::Query> qUpdate_;
    bool servidorOnline_ = false;
    bool ecfsOnline_ = false;
    std::array<bool, kSlotCount + 1> ecfOnline_{};  // index 1..33
};

} // namespace terminals
