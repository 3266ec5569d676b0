// Reads an HTML report the way a browser's parser does (gumbo, an HTML5
// parser): so tests ask what became an element, an attribute or text, not
// whether some bytes occur.
#pragma once

#include <cstring>
#include <functional>
#include <gumbo.h>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace logdesk::testing {

class ParsedHtml {
public:
    explicit ParsedHtml(std::string html)
        : html_(std::move(html)),
          output_(gumbo_parse_with_options(&kGumboDefaultOptions, html_.data(), html_.size())) {}
    ~ParsedHtml() { gumbo_destroy_output(&kGumboDefaultOptions, output_); }
    ParsedHtml(const ParsedHtml&) = delete;
    ParsedHtml& operator=(const ParsedHtml&) = delete;

    // The parse errors an HTML5 parser reports (a stray "<", a bad nesting).
    unsigned errors() const { return output_->errors.length; }

    struct Element {
        const GumboNode* node;
        // Lower case, for HTML and SVG elements alike ("td", "polyline").
        std::string tag() const {
            const GumboElement& element = node->v.element;
            if (element.tag != GUMBO_TAG_UNKNOWN) {
                return gumbo_normalized_tagname(element.tag);
            }
            // The name as the start tag spells it: "<polyline points=...>".
            GumboStringPiece piece = element.original_tag;
            gumbo_tag_from_original_text(&piece);
            std::string name(piece.data, piece.length);
            for (char& c : name) {
                c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            }
            return name;
        }
        bool svg() const { return node->v.element.tag_namespace == GUMBO_NAMESPACE_SVG; }
        // nullptr for an attribute the element lacks.
        const char* attribute(const char* name) const {
            const GumboAttribute* a = gumbo_get_attribute(&node->v.element.attributes, name);
            return a != nullptr ? a->value : nullptr;
        }
        std::map<std::string, std::string> attributes() const {
            std::map<std::string, std::string> all;
            const GumboVector& list = node->v.element.attributes;
            for (unsigned i = 0; i < list.length; ++i) {
                const auto* a = static_cast<const GumboAttribute*>(list.data[i]);
                all[a->name] = a->value;
            }
            return all;
        }
        // The text of every text node inside, in document order.
        std::string text() const {
            std::string out;
            AppendText(node, out);
            return out;
        }
        std::vector<Element> children(std::string_view tag) const {
            std::vector<Element> found;
            const GumboVector& list = node->v.element.children;
            for (unsigned i = 0; i < list.length; ++i) {
                const auto* child = static_cast<const GumboNode*>(list.data[i]);
                if (child->type == GUMBO_NODE_ELEMENT && Element{child}.tag() == tag) {
                    found.push_back({child});
                }
            }
            return found;
        }
        // Every element inside of the tag, in document order.
        std::vector<Element> all(std::string_view tag) const {
            std::vector<Element> found;
            Visit(node, [&](const Element& e) {
                if (e.node != node && (tag.empty() || e.tag() == tag)) {
                    found.push_back(e);
                }
            });
            return found;
        }
    };

    Element root() const { return {output_->root}; }
    std::vector<Element> all(std::string_view tag = {}) const { return root().all(tag); }

    // The rows of a table as the reader sees them: header cells first, then
    // each body row's cells.
    static std::vector<std::vector<std::string>> Cells(const Element& table) {
        std::vector<std::vector<std::string>> rows;
        for (const Element& row : table.all("tr")) {
            std::vector<std::string> cells;
            for (const Element& cell : row.all({})) {
                if (cell.tag() == "td" || cell.tag() == "th") {
                    cells.push_back(cell.text());
                }
            }
            rows.push_back(std::move(cells));
        }
        return rows;
    }

    // The tables with data-page="page" (and data-spider="spider" when
    // given; none when empty).
    std::vector<Element> tables(std::string_view page, std::string_view spider = {}) const {
        std::vector<Element> found;
        for (const Element& table : all("table")) {
            const char* p = table.attribute("data-page");
            const char* s = table.attribute("data-spider");
            if (p != nullptr && p == page &&
                (spider.empty() ? s == nullptr : s != nullptr && s == spider)) {
                found.push_back(table);
            }
        }
        return found;
    }

private:
    static void AppendText(const GumboNode* node, std::string& out) {
        if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE ||
            node->type == GUMBO_NODE_CDATA) {
            out += node->v.text.text;
            return;
        }
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) {
            return;
        }
        const GumboVector& list = node->v.element.children;
        for (unsigned i = 0; i < list.length; ++i) {
            AppendText(static_cast<const GumboNode*>(list.data[i]), out);
        }
    }
    static void Visit(const GumboNode* node, const std::function<void(const Element&)>& visit) {
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) {
            return;
        }
        visit({node});
        const GumboVector& list = node->v.element.children;
        for (unsigned i = 0; i < list.length; ++i) {
            Visit(static_cast<const GumboNode*>(list.data[i]), visit);
        }
    }

    // The parse points into the text (a start tag's original spelling).
    std::string html_;
    GumboOutput* output_;
};

} // namespace logdesk::testing
