// What the statistics windows keep for the whole run of the desktop program
// rather than for one window: owned by the main window and lent to each
// statistics window it opens, which it destroys before this state goes.
#pragma once

#include "cell_marks.h"
#include "core/base/cancellation.h"
#include "core/net/http_fetch.h"

#include <memory>

namespace logdesk {

struct StatsSession {
    // Every header click of a statistics list inverts it, so the first click
    // sorts ascending and the next descending, whichever window it is in.
    bool sortAscending = false;
    // The marks every statistics list is painted by; only the IP page's
    // build drops them.
    CellMarks cellMarks;
    // Raised by the stop request of the run over all IPs (and by closing its
    // window); a run that starts puts a fresh one in its place. GUI thread.
    std::unique_ptr<Cancellation> lookupStop = std::make_unique<Cancellation>();
    // The search site's cookies, kept from one IP lookup to the next.
    CookieJar lookupCookies;
};

} // namespace logdesk
