// Where an IP is, read from a local database in the MaxMind DB format (the
// .mmdb city and country databases), through libmaxminddb: the offline
// alternative to the web lookup of ip_location.h.
#pragma once

#include "core/base/result.h"

#include <memory>
#include <string>
#include <string_view>

struct MMDB_s;

namespace logdesk {

class IpDatabase {
public:
    // Maps the file at `path` (file system bytes) into memory and reads its
    // metadata. The Error names the path: "cannot open" with the system's
    // words for a missing or unreadable file; "not an IP database" for a
    // folder, an empty file, or (in the library's words) a file that is no
    // valid MaxMind DB.
    static Result<IpDatabase> open(const std::string& path);

    IpDatabase(IpDatabase&&) noexcept;
    IpDatabase& operator=(IpDatabase&&) noexcept;
    ~IpDatabase();

    // The location of a dotted IPv4 or an IPv6 text (an IPv4-mapped IPv6
    // address is looked up as its IPv4 address), in GBK: the country, the
    // first subdivision (province, state) and the city that the record
    // names, each in its zh-CN name or else its en name, joined by one blank
    // as the web lookup's answers read ("中国 广东 深圳"). A part missing
    // from the record is left out, and so is a part equal to the one before
    // it (a city state's city). A country database gives the country alone.
    // Empty for an address in no network of the database, one of the other
    // IP version, a record with none of the names, or a text that is no
    // address. Safe from several threads at once: libmaxminddb only reads
    // the opened database.
    std::string locate(std::string_view ip) const;

private:
    struct Close {
        void operator()(MMDB_s* database) const;
    };
    explicit IpDatabase(std::unique_ptr<MMDB_s, Close> database);

    std::unique_ptr<MMDB_s, Close> database_;
};

} // namespace logdesk
