#include "core/warehouse/warehouse_schema.h"

#include <cerrno>

namespace logdesk {

namespace {

bool IsWordByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsIdentifier(std::string_view name) {
    if (name.empty() || (name.front() >= '0' && name.front() <= '9')) {
        return false;
    }
    for (const char c : name) {
        if (!IsWordByte(c)) {
            return false;
        }
    }
    return true;
}

// `text` with every whole word `from` replaced by `to`.
std::string ReplaceWord(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t at = 0;
    for (std::size_t found = text.find(from); found != std::string_view::npos;
         found = text.find(from, found + from.size())) {
        const bool startsWord = found == 0 || !IsWordByte(text[found - 1]);
        const std::size_t end = found + from.size();
        const bool endsWord = end == text.size() || !IsWordByte(text[end]);
        if (startsWord && endsWord) {
            out.append(text.substr(at, found - at));
            out.append(to);
            at = end;
        }
    }
    out.append(text.substr(at));
    return out;
}

} // namespace

Result<WarehouseTables> TablesNamed(std::string_view name) {
    const std::size_t dot = name.find('.');
    const bool valid = dot == std::string_view::npos
                           ? IsIdentifier(name)
                           : IsIdentifier(name.substr(0, dot)) && IsIdentifier(name.substr(dot + 1));
    if (!valid) {
        return Error{"bad table name", {}, "a table is [DATABASE.]NAME of letters, digits and _",
                     EINVAL};
    }
    WarehouseTables tables;
    tables.records = std::string(name);
    tables.loads = std::string(name) + "_loads";
    return tables;
}

std::vector<std::string> CreateStatements(const WarehouseTables& tables) {
    // Comments run from "--" to the line's end; the file has no text literal
    // holding "--".
    std::string plain;
    const std::string_view text = SchemaText();
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line = text.substr(at, end - at);
        if (const std::size_t comment = line.find("--"); comment != std::string_view::npos) {
            line = line.substr(0, comment);
            plain.append(line);
            plain += '\n';
        } else {
            plain.append(line);
        }
        at = end;
    }
    std::vector<std::string> statements;
    std::size_t at = 0;
    while (at < plain.size()) {
        std::size_t end = plain.find(';', at);
        end = end == std::string::npos ? plain.size() : end;
        std::string statement = plain.substr(at, end - at);
        const std::size_t first = statement.find_first_not_of(" \n\t\r");
        if (first != std::string::npos && statement.compare(first, 6, "CREATE") == 0) {
            statement = statement.substr(first);
            statement = ReplaceWord(statement, "logdesk_records", tables.records);
            statement = ReplaceWord(statement, "logdesk_loads", tables.loads);
            statements.push_back(std::move(statement));
        }
        at = end + 1;
    }
    return statements;
}

} // namespace logdesk
