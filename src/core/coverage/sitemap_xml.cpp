// Sitemaps and sitemap indexes through expat.
#include "core/coverage/site_list.h"

#include <algorithm>
#include <cerrno>
#include <expat.h>
#include <memory>
#include <optional>
#include <string>

namespace logdesk {
namespace {

// Bytes handed to expat at a time: its length parameter is an int.
constexpr std::size_t kXmlBlock = std::size_t{1} << 20;

std::string_view LocalName(const XML_Char* name) {
    const std::string_view full(name);
    const std::size_t colon = full.rfind(':');
    return colon == std::string_view::npos ? full : full.substr(colon + 1);
}

std::string Trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

// The document as the handlers have seen it so far. Depth 1 is the root,
// 2 an entry (<url> or <sitemap>), 3 the entry's children.
class SitemapReader {
public:
    SitemapReader(XML_Parser parser, const std::string& name) : parser_(parser), name_(name) {}

    void start(std::string_view element) {
        if (failure_) {
            return;
        }
        ++depth_;
        if (depth_ == 1) {
            if (element == "urlset") {
                list_.kind = SiteListKind::Sitemap;
            } else if (element == "sitemapindex") {
                list_.kind = SiteListKind::SitemapIndex;
            } else {
                fail("not a sitemap", "the root element is <" + std::string(element) +
                                          ">, not <urlset> or <sitemapindex>");
            }
            return;
        }
        const std::string_view entry = list_.kind == SiteListKind::Sitemap ? "url" : "sitemap";
        if (depth_ == 2 && element == entry) {
            if (++entries_ > kMaxSitemapUrls) {
                fail("too many URLs",
                     list_.kind == SiteListKind::Sitemap
                         ? "more than 50,000 URLs in one sitemap, the protocol's limit; split it "
                           "and list the parts in a sitemap index"
                         : "more than 50,000 sitemaps in one index, the protocol's limit");
                return;
            }
            inEntry_ = true;
            entryLocs_ = 0;
            entryLine_ = line();
        } else if (depth_ == 3 && inEntry_ && element == "loc") {
            if (++entryLocs_ > 1) {
                fail("damaged sitemap", "<" + std::string(entry) + "> holds a second <loc>");
                return;
            }
            inLoc_ = true;
            text_.clear();
            locLine_ = line();
        }
    }

    void end() {
        if (failure_) {
            return;
        }
        if (depth_ == 3 && inLoc_) {
            list_.urls.push_back({Trimmed(text_), locLine_});
            inLoc_ = false;
        } else if (depth_ == 2 && inEntry_) {
            inEntry_ = false;
            if (entryLocs_ == 0) {
                const std::string entry = list_.kind == SiteListKind::Sitemap ? "url" : "sitemap";
                failAt(entryLine_, "damaged sitemap", "<" + entry + "> without <loc>");
                return;
            }
        }
        --depth_;
    }

    void text(std::string_view bytes) {
        if (!failure_ && inLoc_ && depth_ == 3) {
            text_ += bytes;
        }
    }

    void refuseDoctype() {
        fail("refused", "a document type declaration (DOCTYPE) is refused: a sitemap needs none, "
                        "and the entities it declares could expand without bound");
    }

    Result<SiteList> finish(bool parsed) {
        if (failure_) {
            return *failure_;
        }
        if (!parsed) {
            return errorAt(line(), "damaged sitemap", XML_ErrorString(XML_GetErrorCode(parser_)));
        }
        return std::move(list_);
    }

private:
    std::uint64_t line() const { return XML_GetCurrentLineNumber(parser_); }

    Error errorAt(std::uint64_t at, std::string what, std::string_view cause) const {
        return Error{std::move(what), name_,
                     "line " + std::to_string(at) + ": " + std::string(cause), 0};
    }
    void failAt(std::uint64_t at, std::string what, std::string_view cause) {
        failure_ = errorAt(at, std::move(what), cause);
        XML_StopParser(parser_, XML_FALSE);
    }
    void fail(std::string what, std::string_view cause) { failAt(line(), std::move(what), cause); }

    XML_Parser parser_;
    const std::string& name_;
    SiteList list_;
    std::optional<Error> failure_;
    int depth_ = 0;
    std::size_t entries_ = 0;
    bool inEntry_ = false;
    int entryLocs_ = 0;
    std::uint64_t entryLine_ = 0;
    bool inLoc_ = false;
    std::uint64_t locLine_ = 0;
    std::string text_;
};

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

} // namespace

Result<SiteList> ParseSitemapXml(std::string_view bytes, const std::string& name) {
    // Without an encoding of ours, expat follows the document's declaration
    // and byte order mark (UTF-8, UTF-16, ISO-8859-1, US-ASCII) and hands
    // over UTF-8.
    const std::unique_ptr<XML_ParserStruct, ParserDeleter> owner(XML_ParserCreate(nullptr));
    XML_Parser parser = owner.get();
    if (parser == nullptr) {
        return Error{"cannot read", name, "out of memory for the XML parser", ENOMEM};
    }
    SitemapReader reader(parser, name);
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* element, const XML_Char**) {
            static_cast<SitemapReader*>(data)->start(LocalName(element));
        },
        [](void* data, const XML_Char*) { static_cast<SitemapReader*>(data)->end(); });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
        static_cast<SitemapReader*>(data)->text({text, static_cast<std::size_t>(length)});
    });
    // Called where the declaration starts, before its internal subset is
    // read: a document full of entity definitions stops at once. No handler
    // for external entities is set, and parameter entities are not parsed,
    // so expat reads nothing but these bytes.
    XML_SetStartDoctypeDeclHandler(parser,
                                   [](void* data, const XML_Char*, const XML_Char*, const XML_Char*,
                                      int) { static_cast<SitemapReader*>(data)->refuseDoctype(); });
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);

    bool parsed = true;
    do {
        const std::size_t block = std::min(bytes.size(), kXmlBlock);
        const bool last = block == bytes.size();
        parsed =
            XML_Parse(parser, bytes.data(), static_cast<int>(block), last ? 1 : 0) == XML_STATUS_OK;
        bytes.remove_prefix(block);
    } while (parsed && !bytes.empty());
    return reader.finish(parsed);
}

} // namespace logdesk
