// Fetched web pages as program text (GBK), converted from UTF-8 when the page
// says it is UTF-8.
#pragma once

#include "http_fetch.h"

#include <cstdint>
#include <span>
#include <string>

namespace logdesk {

// Charset modes of DecodePageText / FetchPageText; every other value keeps
// the bytes as they are.
inline constexpr int kCharsetFromPage = 0;
inline constexpr int kCharsetUtf8 = 2;

// UTF-8 bytes as GBK text, the way pages are converted: a base character
// followed by combining marks becomes its precomposed character where one
// exists (so "e" U+0301 arrives as the GBK é), invalid sequences and
// characters GBK lacks become '?', and the text ends at the first zero byte.
// util's Utf8ToGbk(std::string_view) neither composes nor cuts; pages go
// through this overload.
std::string Utf8ToGbk(std::span<const std::uint8_t> utf8);

// A response body as page text: the bytes before the first zero byte, then
// by charsetMode:
// - kCharsetFromPage: converted from UTF-8 only when the text between the
//   first "<head>" and "</head>" (the whole page when that is empty) holds
//   charset=utf-8 or charset="utf-8", any letter case; single quotes, blanks
//   around "=", "utf8" or an XML declaration alone leave the page as it is;
// - kCharsetUtf8: always converted;
// - any other value: never converted.
std::string DecodePageText(std::span<const std::uint8_t> body, int charsetMode);

// Fetches the request with a 30-second deadline and decodes the body; the
// fetch's failure when it fails.
Result<std::string> FetchPageText(const FetchRequest& request, int charsetMode = kCharsetFromPage,
                                  const FetchContext& context = {});

} // namespace logdesk
