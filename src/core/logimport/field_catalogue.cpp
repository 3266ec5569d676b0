#include "field_catalogue.h"

#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <unordered_map>

namespace logdesk {

const std::vector<CatalogueEntry>& FieldCatalogue() {
    static const std::vector<CatalogueEntry> catalogue = [] {
        struct Row {
            std::string_view name;
            FieldSlot slot;
            std::string_view captionUtf8;
        };
        // IIS names first, then the names of Log Parser exports.
        static constexpr Row rows[] = {
            {"date", FieldSlot::Date, "日期"},
            {"time", FieldSlot::Time, "时间"},
            {"s-sitename", FieldSlot::SiteName, "服务器名"},
            {"s-ip", FieldSlot::ServerIp, "服务器IP"},
            {"cs-method", FieldSlot::Method, "方法"},
            {"cs-uri-stem", FieldSlot::UriStem, "URL"},
            {"cs-uri-query", FieldSlot::UriQuery, "URL参数"},
            {"s-port", FieldSlot::ServerPort, "端口"},
            {"cs-username", FieldSlot::UserName, "访问者用户名"},
            {"cs(User-Agent)", FieldSlot::UserAgent, "访问者身份"},
            {"c-ip", FieldSlot::ClientIp, "访问者IP"},
            // The trailing blank tells the IIS status caption from the Log
            // Parser one; the export's default column list relies on it.
            {"sc-status", FieldSlot::Status, "状态码 "},
            {"sc-substatus", FieldSlot::SubStatus, "子状态码"},
            {"sc-win32-status", FieldSlot::Win32Status, "Win32状态码"},
            {"sc-bytes", FieldSlot::ScBytes, "字节数"},
            {"cs-version", FieldSlot::Version, "协议版本"},
            {"cs(Referer)", FieldSlot::Referer, "访问者来路"},
            {"ComputerName", FieldSlot::SiteName, "服务器名"},
            {"ServerIpAddress", FieldSlot::ServerIp, "服务器IP"},
            {"Method", FieldSlot::Method, "方法"},
            {"UriStem", FieldSlot::UriStem, "URL"},
            {"UriQuery", FieldSlot::UriQuery, "URL参数"},
            {"ServerPort", FieldSlot::ServerPort, "端口"},
            {"UserName", FieldSlot::UserName, "访问者用户名"},
            {"ClientIpAddress", FieldSlot::ClientIp, "访问者IP"},
            {"ProtocolStatus", FieldSlot::Status, "状态码"},
            {"SubStatus", FieldSlot::SubStatus, "子状态码"},
            {"Win32Status", FieldSlot::Win32Status, "Win32状态码"},
            {"ProtocolVersion", FieldSlot::Version, "协议版本"},
            {"LogFilename", FieldSlot::LogFilename, "日志文件名"},
            {"RecordNumber", FieldSlot::RecordNumber, "记录编号"},
            {"BytesReceived", FieldSlot::BytesReceived, "接收字节"},
            {"BytesSent", FieldSlot::BytesSent, "发送字节"},
            {"TimeTaken", FieldSlot::TimeTaken, "处理时间"},
            {"SiteID", FieldSlot::SiteId, "站点编号"},
        };
        std::vector<CatalogueEntry> entries;
        for (const Row& row : rows) {
            entries.push_back({row.name, row.slot, Gbk(row.captionUtf8)});
        }
        return entries;
    }();
    return catalogue;
}

const CatalogueEntry* LookupField(std::string_view name) {
    static const std::unordered_map<std::string_view, const CatalogueEntry*> index = [] {
        std::unordered_map<std::string_view, const CatalogueEntry*> map;
        for (const CatalogueEntry& entry : FieldCatalogue()) {
            map.emplace(entry.name, &entry);
        }
        return map;
    }();
    const auto it = index.find(name);
    return it == index.end() ? nullptr : it->second;
}

const std::string& OtherFieldCaption() {
    static const std::string caption = Gbk("其他字段");
    return caption;
}

namespace {

// IIS names of fields the pages count by that the catalogue has no caption
// for: their columns keep the other fields' caption (as the list and the
// export have always shown them) and also fill the slot the pages read.
constexpr std::pair<std::string_view, FieldSlot> kCountedOtherFields[] = {
    {"time-taken", FieldSlot::TimeTaken},
};

} // namespace

HeaderLayout MapHeader(std::string_view line) {
    std::string text = ReplaceText(line, "DateTime", "date time");
    text = ReplaceText(text, "#Fields:", "");
    HeaderLayout layout;
    for (std::string_view name : SplitText(TrimBlanks(text), " ")) {
        layout.fieldNames.emplace_back(name);
    }
    std::int32_t column = 0;
    for (const std::string& name : layout.fieldNames) {
        ++column;
        const CatalogueEntry* entry = LookupField(name);
        const std::string& caption = entry != nullptr ? entry->caption : OtherFieldCaption();
        layout.fieldMap[entry != nullptr ? entry->slot : FieldSlot::Other] = column;
        for (const auto& [otherName, slot] : kCountedOtherFields) {
            if (entry == nullptr && name == otherName) {
                layout.fieldMap[slot] = column;
            }
        }
        layout.fieldHeaders.push_back(caption + "(" + name + ")");
    }
    return layout;
}

} // namespace logdesk
