// The texts of the IP location lookup: where to ask and how to read the
// answer. The window that runs the lookup fetches the URL with FetchPageText.
#pragma once

#include <string>
#include <string_view>

namespace logdesk {

// "http://" siteHost "/baidu?word=" ip; siteHost may already start with
// "http://". Bytes of the IP that would not stand in a query value as
// themselves are percent-encoded; an IPv4 or IPv6 text goes in unchanged.
// The same URL is the page a browser opens for the IP.
std::string IpLocationQueryUrl(std::string_view siteHost, std::string_view ip);

// The location on a result page (GBK): the text between the first
// "来&nbsp;&nbsp;&nbsp;自:&nbsp;<strong>" and the "</strong>" after it, found
// ignoring ASCII case; empty when either is missing.
std::string IpLocationFromPage(std::string_view page);

} // namespace logdesk
