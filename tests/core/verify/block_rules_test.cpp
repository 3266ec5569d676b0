// The block exports as IIS takes them: the web.config fragment is read by an
// XML parser inside a web.config, and the PowerShell and appcmd scripts are
// held line by line to the documented forms of the commands they run.
#include "core/verify/verification_report.h"

#include <expat.h>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace logdesk {
namespace {

std::vector<IpAddress> Addresses() {
    std::vector<IpAddress> addresses;
    for (const char* text : {"1.1.1.1", "203.0.113.77", "2001:db8::7"}) {
        addresses.push_back(*IpAddress::Parse(text));
    }
    return addresses;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "a line without CR LF";
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

struct Parsed {
    std::vector<std::string> path;                           // element names from the root
    std::vector<std::pair<std::string, std::string>> denied; // ipAddress, allowed
    std::string allowUnlisted;
    std::vector<std::string> comments;
};

// Parses the fragment inside <configuration><system.webServer>; false with
// expat's reason on any error.
bool ParseWebConfig(const std::string& fragment, Parsed& parsed, std::string& error) {
    const std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                 "<configuration><system.webServer>\r\n" +
                                 fragment + "</system.webServer></configuration>\r\n";
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(parser, &parsed);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* name, const XML_Char** attributes) {
            auto& p = *static_cast<Parsed*>(data);
            p.path.emplace_back(name);
            std::string ip;
            std::string allowed;
            for (int i = 0; attributes[i] != nullptr; i += 2) {
                const std::string key = attributes[i];
                if (key == "ipAddress") {
                    ip = attributes[i + 1];
                } else if (key == "allowed") {
                    allowed = attributes[i + 1];
                } else if (key == "allowUnlisted") {
                    p.allowUnlisted = attributes[i + 1];
                }
            }
            if (std::string(name) == "add") {
                EXPECT_EQ(p.path.size(), 5u);
                EXPECT_EQ(p.path[3], "ipSecurity");
                p.denied.emplace_back(ip, allowed);
            }
        },
        [](void* data, const XML_Char*) { static_cast<Parsed*>(data)->path.pop_back(); });
    XML_SetCommentHandler(parser, [](void* data, const XML_Char* text) {
        static_cast<Parsed*>(data)->comments.emplace_back(text);
    });
    const bool ok =
        XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK;
    if (!ok) {
        error = XML_ErrorString(XML_GetErrorCode(parser));
    }
    XML_ParserFree(parser);
    return ok;
}

TEST(BlockRulesTest, TheWebConfigFragmentIsWellFormedAndSaysWhatItNeeds) {
    for (const std::size_t shared : {std::size_t{0}, std::size_t{4}}) {
        const std::string fragment = BlockRules(BlockFormat::WebConfig, Addresses(), shared);
        Parsed parsed;
        std::string error;
        ASSERT_TRUE(ParseWebConfig(fragment, parsed, error)) << error << "\n" << fragment;
        EXPECT_EQ(parsed.allowUnlisted, "true");
        EXPECT_EQ(parsed.denied,
                  (std::vector<std::pair<std::string, std::string>>{
                      {"1.1.1.1", "false"}, {"203.0.113.77", "false"}, {"2001:db8::7", "false"}}));
        ASSERT_EQ(parsed.comments.size(), 1u);
        const std::string& comment = parsed.comments[0];
        EXPECT_NE(comment.find("IP and Domain Restrictions"), std::string::npos);
        EXPECT_NE(comment.find("appcmd.exe unlock config"), std::string::npos);
        EXPECT_NE(comment.find("500.19"), std::string::npos);
        EXPECT_EQ(comment.find("address(es) judged fake") != std::string::npos, shared > 0);
    }
    Parsed empty;
    std::string error;
    EXPECT_TRUE(ParseWebConfig(BlockRules(BlockFormat::WebConfig, {}), empty, error)) << error;
    EXPECT_TRUE(empty.denied.empty());
}

// The text between matching quotes, brackets and braces closes in order on
// every line (PowerShell here-strings and line continuations are not used).
bool Balanced(const std::string& line) {
    std::string open;
    bool quoted = false;
    for (const char c : line) {
        if (c == '\'') {
            quoted = !quoted;
            continue;
        }
        if (quoted) {
            continue;
        }
        if (c == '(' || c == '{' || c == '[') {
            open += c;
        } else if (c == ')' || c == '}' || c == ']') {
            const char want = c == ')' ? '(' : c == '}' ? '{' : '[';
            if (open.empty() || open.back() != want) {
                return false;
            }
            open.pop_back();
        }
    }
    return !quoted && open.empty();
}

TEST(BlockRulesTest, ThePowerShellScriptUsesTheDocumentedCmdletForms) {
    const std::string script = BlockRules(BlockFormat::PowerShell, Addresses(), 2);
    const std::vector<std::string> lines = Lines(script);
    const std::regex address(R"(    '([0-9a-f.:]+)',?)");
    // Add-WebConfigurationProperty [-PSPath] <String[]> [-Location <String[]>]
    // -Filter <String> -Name <String> -Value <PSObject>, and its Get- twin.
    const std::regex add(R"(    Add-WebConfigurationProperty -PSPath \$psPath -Location \$Site )"
                         R"(-Filter \$filter -Name '\.' -Value @\{ ipAddress = \$address; )"
                         R"(allowed = 'false' \})");
    const std::regex get(R"(\$present = @\(Get-WebConfigurationProperty -PSPath \$psPath )"
                         R"(-Location \$Site -Filter \$filter -Name 'collection' \| )"
                         R"(ForEach-Object \{ \$_\.ipAddress \}\))");
    const std::vector<std::string> fixed = {"param([Parameter(Mandatory = $true)][string]$Site)",
                                            "Import-Module WebAdministration",
                                            "$psPath = 'MACHINE/WEBROOT/APPHOST'",
                                            "$filter = 'system.webServer/security/ipSecurity'",
                                            "$addresses = @(",
                                            ")",
                                            "foreach ($address in $addresses) {",
                                            "    if ($present -contains $address) { continue }",
                                            "}"};
    std::vector<std::string> listed;
    bool sawAdd = false;
    bool sawGet = false;
    std::size_t comments = 0;
    std::size_t nextFixed = 0;
    for (const std::string& line : lines) {
        std::smatch match;
        if (line.starts_with("# ")) {
            ++comments;
            EXPECT_EQ(nextFixed, 0u) << "comments come first: " << line;
        } else if (std::regex_match(line, match, address)) {
            listed.push_back(match[1]);
        } else if (std::regex_match(line, add)) {
            sawAdd = true;
        } else if (std::regex_match(line, get)) {
            sawGet = true;
        } else {
            ASSERT_LT(nextFixed, fixed.size()) << line;
            EXPECT_EQ(line, fixed[nextFixed]);
            ++nextFixed;
        }
        EXPECT_TRUE(line.starts_with("# ") || Balanced(line) || line.ends_with("@(") ||
                    line == ")" || line.ends_with("{") || line == "}")
            << line;
    }
    EXPECT_EQ(nextFixed, fixed.size());
    EXPECT_TRUE(sawAdd);
    EXPECT_TRUE(sawGet);
    EXPECT_GE(comments, 4u);
    EXPECT_NE(script.find("Web-IP-Security"), std::string::npos);
    EXPECT_NE(script.find("2 address(es) judged fake"), std::string::npos);
    EXPECT_EQ(listed, (std::vector<std::string>{"1.1.1.1", "203.0.113.77", "2001:db8::7"}));
    // The list's commas: after every address but the last.
    EXPECT_NE(script.find("'203.0.113.77',\r\n"), std::string::npos);
    EXPECT_NE(script.find("'2001:db8::7'\r\n)"), std::string::npos);
}

TEST(BlockRulesTest, TheAppcmdFileAddsEachAddressForTheNamedSiteInApplicationHost) {
    const std::string batch = BlockRules(BlockFormat::Appcmd, Addresses());
    const std::vector<std::string> lines = Lines(batch);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "@echo off");
    // appcmd set config "SITE" -section:NAME /+"[ipAddress='IP',allowed='false']"
    // /commit:apphost
    const std::regex entry(R"("%APPCMD%" set config "%~1" )"
                           R"(-section:system\.webServer/security/ipSecurity )"
                           R"(/\+"\[ipAddress='([0-9a-f.:]+)',allowed='false'\]" /commit:apphost)");
    std::vector<std::string> listed;
    for (const std::string& line : lines) {
        std::smatch match;
        if (std::regex_match(line, match, entry)) {
            listed.push_back(match[1]);
        } else {
            EXPECT_TRUE(line == "@echo off" || line.starts_with("rem ") ||
                        line.starts_with("if \"%~1\"==\"\" (") ||
                        line.starts_with("    echo usage:") || line == "    exit /b 2" ||
                        line == ")" || line == "set APPCMD=%windir%\\system32\\inetsrv\\appcmd.exe")
                << line;
        }
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"1.1.1.1", "203.0.113.77", "2001:db8::7"}));
    EXPECT_NE(batch.find("rem Needs the IIS role service"), std::string::npos);
    EXPECT_EQ(BlockRules(BlockFormat::List, Addresses()),
              "1.1.1.1\r\n203.0.113.77\r\n2001:db8::7\r\n");
}

} // namespace
} // namespace logdesk
