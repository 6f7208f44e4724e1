#pragma once
// The two kinds of failure a run meets, told apart in one place.
//
// A failure of the link says nothing about the row being written: the link
// was lost or could not be made, the server is shutting down or restarting
// (SQLSTATE classes 08 and 57), the statement was cancelled (by us or by the
// server), or a wait on a lock timed out. Nothing is wrong with the row and
// the next run brings it: the run ends its work on that link with a line in
// its pane and leaves the rows for later, and never waits for a click.
//
// Any other failure is the statement's own: the server refused the row for
// its data. That one is shown in its box, since someone must look at it.

#include <QString>
#include <exception>

namespace db {

bool isLinkFailure(const std::exception& failure);

// The first line of the failure's text: what a pane line or a log says.
QString failureReason(const std::exception& failure);

} // namespace db
