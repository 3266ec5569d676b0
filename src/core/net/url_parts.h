// The host, path and port of an "http://" URL, split the way the fetch
// addresses its server. The text is GBK: searches step over the second byte
// of a double-byte character.
//
// The rules are deliberately literal and keep their odd results: the host is
// whatever follows the first "http://" anywhere in the text (or the text from
// its start when there is none) up to the next "/", and the path is found by
// searching for that host again, so a host that also occurs earlier (such as
// "ht" inside "http://") moves the path's start forward to that place.
#pragma once

#include <string>
#include <string_view>

namespace logdesk {

// The host in ASCII lower case (double-byte characters untouched); with
// keepPort the ":" and port the URL names stay on it.
std::string UrlHost(std::string_view url, bool keepPort = false);

// From the first "/" at or after the host to the end of the URL, query
// included; "/" when there is no such "/".
std::string UrlPath(std::string_view url);

// The number after the host's first ":" as AtoF reads it, truncated (so
// "h:" and "h:x" give 0, which the fetch treats as the default port); 80 when
// the host carries no ":".
int UrlPort(std::string_view url);

} // namespace logdesk
