// What lasts for the whole run of the desktop program rather than for one
// window: owned by the main window and lent to the windows it opens, which
// it destroys before this state goes.
#pragma once

#include "core/net/http_fetch.h"
#include "core/stats/cell_colours.h"

namespace logdesk {

struct AppState {
    // Every header click of a statistics list inverts it, so the first click
    // sorts ascending and the next descending, whichever window it is in.
    bool statsSortAscending = false;
    // The overlay every statistics list is painted through; only the IP
    // page's build empties it.
    CellColours cellColours;
    // Set by the stop request of the run over all IPs (and by closing its
    // window), cleared when a run starts.
    bool stopLookup = false;
    // The search site's cookies, kept from one IP lookup to the next.
    CookieJar lookupCookies;
};

} // namespace logdesk
