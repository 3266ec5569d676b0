// The visitor's own address when the site sits behind a proxy, a CDN or a
// load balancer: every request then comes from the proxy (c-ip), and the
// client is named in a field the administrator added to the log, such as
// X-Forwarded-For ("client, proxy1, proxy2"; IIS writes blanks as '+').
#pragma once

#include "field_catalogue.h"

#include <cstdint>
#include <string_view>

namespace logdesk {

// The 1-based table column of the last header's field `name` (ASCII case
// ignored; "X-Forwarded-For" also finds "cs(X-Forwarded-For)"); 0 when the
// header has no such field.
std::int32_t FieldColumn(const HeaderLayout& header, std::string_view name);

// The first public address (not private, loopback, link-local, shared or
// unique-local) of the comma list `forwarded`, its port (":80", "[v6]:80")
// dropped; `direct` when the list holds none ("-", empty, only internal
// hops). A view into one of the two.
std::string_view ClientAddress(std::string_view forwarded, std::string_view direct);

} // namespace logdesk
