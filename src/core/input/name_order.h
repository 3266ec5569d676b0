// The order in which logs are read, and the names that count as logs.
//
// IIS names its files by date (ex130501.log, u_ex240301.log), so logs are
// read in the order of their names: by the last path component with ASCII
// letters compared without case (files copied through old Windows tools come
// as EX130501.LOG beside ex130502.log), then by the exact bytes of that
// component, then by the exact bytes of the whole path, so that no two
// different paths compare equal. Bytes compare as unsigned values. The same
// rule orders the members of an archive by their paths inside it.
//
// Of the two IIS prefixes, "ex" sorts before "u_ex": servers that changed to
// UTF-8 logs wrote the older files under the first.
#pragma once

#include <string_view>

namespace logdesk {

// The part after the last '/'; the whole path when there is none. A
// trailing '/' gives an empty component.
std::string_view LastComponent(std::string_view path);

// True when `a` is read before `b`.
bool NameOrderLess(std::string_view a, std::string_view b);

// True when `name` ends in `suffix` with ASCII letters compared without case.
bool EndsWithNoCase(std::string_view name, std::string_view suffix);

} // namespace logdesk
