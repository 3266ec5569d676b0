#include "ip_database.h"

#include "core/base/platform.h"
#include "core/text/gbk_codec.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <maxminddb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace logdesk {

namespace {

// The record's name of `place` ("country", "city", or "subdivisions" and
// "0"), UTF-8: zh-CN when it has one, else en; empty when it has neither.
template <typename... Place> std::string NameOf(MMDB_entry_s entry, Place... place) {
    for (const char* language : {"zh-CN", "en"}) {
        MMDB_entry_data_s data{};
        if (MMDB_get_value(&entry, &data, place..., "names", language,
                           static_cast<const char*>(nullptr)) == MMDB_SUCCESS &&
            data.has_data && data.type == MMDB_DATA_TYPE_UTF8_STRING && data.data_size > 0) {
            return std::string(data.utf8_string, data.data_size);
        }
    }
    return {};
}

} // namespace

void IpDatabase::Close::operator()(MMDB_s* database) const {
    MMDB_close(database);
    delete database;
}

IpDatabase::IpDatabase(std::unique_ptr<MMDB_s, Close> database) : database_(std::move(database)) {}
IpDatabase::IpDatabase(IpDatabase&&) noexcept = default;
IpDatabase& IpDatabase::operator=(IpDatabase&&) noexcept = default;
IpDatabase::~IpDatabase() = default;

Result<IpDatabase> IpDatabase::open(const std::string& path) {
    // What the library would only report as a failed mapping.
    const Result<FileStatus> status = StatusOf(path);
    if (!status) {
        return Error{"cannot open", path, status.error().cause, status.error().code};
    }
    if (status->kind != FileStatus::Regular || status->size == 0) {
        return Error{"not an IP database", path,
                     status->kind == FileStatus::Directory ? "it is a folder"
                     : status->kind == FileStatus::Other   ? "it is not a regular file"
                                                           : "the file is empty",
                     0};
    }
    auto* database = new MMDB_s{};
    errno = 0;
    const int opened = MMDB_open(path.c_str(), MMDB_MODE_MMAP, database);
    const int code = errno;
    if (opened != MMDB_SUCCESS) {
        // MMDB_open frees what it allocated when it fails; there is nothing
        // to close.
        delete database;
        const bool file = opened == MMDB_FILE_OPEN_ERROR || opened == MMDB_IO_ERROR;
        if (file && code != 0) {
            return SystemError(code, "cannot open", path);
        }
        return Error{file ? "cannot open" : "not an IP database", path, MMDB_strerror(opened),
                     code};
    }
    return IpDatabase(std::unique_ptr<MMDB_s, Close>(database));
}

std::string IpDatabase::locate(std::string_view ip) const {
    // inet_pton takes dotted quads and IPv6 texts only, with nothing around
    // them, where getaddrinfo would also take "1.2" or "0x7f.1".
    const std::string text(ip);
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    const sockaddr* address = nullptr;
    if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        address = reinterpret_cast<const sockaddr*>(&v4);
    } else if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            v4.sin_family = AF_INET;
            std::memcpy(&v4.sin_addr, v6.sin6_addr.s6_addr + 12, 4);
            address = reinterpret_cast<const sockaddr*>(&v4);
        } else {
            v6.sin6_family = AF_INET6;
            address = reinterpret_cast<const sockaddr*>(&v6);
        }
    } else {
        return {};
    }
    int error = MMDB_SUCCESS;
    const MMDB_lookup_result_s found = MMDB_lookup_sockaddr(database_.get(), address, &error);
    if (error != MMDB_SUCCESS || !found.found_entry) {
        return {};
    }
    std::string location;
    std::string previous;
    for (const std::string& part :
         {NameOf(found.entry, "country"), NameOf(found.entry, "subdivisions", "0"),
          NameOf(found.entry, "city")}) {
        if (part.empty() || part == previous) {
            continue;
        }
        location += (location.empty() ? "" : " ") + part;
        previous = part;
    }
    return Utf8ToGbk(location);
}

} // namespace logdesk
