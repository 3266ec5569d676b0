// Writes small databases in the MaxMind DB format (version 2.0) for the
// tests of the local IP lookup: libmaxminddb only reads them. The search
// tree has 24-bit records; the data section holds what the tests need of
// the type encoding (UTF-8 strings, unsigned numbers, maps and arrays), each
// value written whole, without pointers.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace logdesk::testing {

// One value of the data section.
struct MmdbValue {
    // The type numbers of the format (Uint64 and Array are extended types).
    enum class Kind : int { Text = 2, Uint16 = 5, Uint32 = 6, Map = 7, Uint64 = 9, Array = 11 };
    Kind kind = Kind::Text;
    std::string text;              // Text, UTF-8
    std::uint64_t number = 0;      // Uint16, Uint32, Uint64
    std::vector<std::string> keys; // Map, beside its values
    std::vector<MmdbValue> values; // Map, Array

    void encode(std::string& out) const {
        switch (kind) {
        case Kind::Text:
            control(out, text.size());
            out += text;
            break;
        case Kind::Uint16:
        case Kind::Uint32:
        case Kind::Uint64: {
            // Big-endian, without leading zero bytes (0 takes none).
            std::string bytes;
            for (std::uint64_t n = number; n != 0; n >>= 8) {
                bytes.insert(bytes.begin(), static_cast<char>(n & 0xFF));
            }
            control(out, bytes.size());
            out += bytes;
            break;
        }
        case Kind::Map:
            control(out, keys.size());
            for (std::size_t i = 0; i < keys.size(); ++i) {
                MmdbValue{Kind::Text, keys[i], 0, {}, {}}.encode(out);
                values[i].encode(out);
            }
            break;
        case Kind::Array:
            control(out, values.size());
            for (const MmdbValue& value : values) {
                value.encode(out);
            }
            break;
        }
    }

private:
    // The control byte (type in the top 3 bits, 0 for an extended type
    // whose number less 7 follows), then the size's extra bytes.
    void control(std::string& out, std::size_t size) const {
        const int type = static_cast<int>(kind);
        std::string extra;
        int sizeBits = 0;
        if (size < 29) {
            sizeBits = static_cast<int>(size);
        } else if (size < 285) {
            sizeBits = 29;
            extra += static_cast<char>(size - 29);
        } else if (size < 65821) {
            sizeBits = 30;
            extra += static_cast<char>((size - 285) >> 8);
            extra += static_cast<char>((size - 285) & 0xFF);
        } else {
            sizeBits = 31;
            for (int shift = 16; shift >= 0; shift -= 8) {
                extra += static_cast<char>(((size - 65821) >> shift) & 0xFF);
            }
        }
        out += static_cast<char>(((type <= 7 ? type : 0) << 5) | sizeBits);
        if (type > 7) {
            out += static_cast<char>(type - 7);
        }
        out += extra;
    }
};

inline MmdbValue MmdbText(std::string utf8) {
    return {MmdbValue::Kind::Text, std::move(utf8), 0, {}, {}};
}
inline MmdbValue MmdbNumber(MmdbValue::Kind kind, std::uint64_t number) {
    return {kind, {}, number, {}, {}};
}
inline MmdbValue MmdbMap(std::initializer_list<std::pair<std::string, MmdbValue>> entries) {
    MmdbValue map{MmdbValue::Kind::Map, {}, 0, {}, {}};
    for (const auto& [key, value] : entries) {
        map.keys.push_back(key);
        map.values.push_back(value);
    }
    return map;
}
inline MmdbValue MmdbArray(std::vector<MmdbValue> items) {
    return {MmdbValue::Kind::Array, {}, 0, {}, std::move(items)};
}

// A database of networks and their records, built in memory.
class MmdbWriter {
public:
    // ipVersion 4 or 6; in an IPv6 tree the IPv4 networks lie under ::/96,
    // where libmaxminddb looks IPv4 addresses up.
    MmdbWriter(int ipVersion, std::string databaseType)
        : ipVersion_(ipVersion), databaseType_(std::move(databaseType)) {}

    // "192.0.2.0/24" or "2001:db8::/32", prefix 1 or longer; a network
    // inside one added before takes its part of it.
    void add(const std::string& network, const MmdbValue& record) {
        const std::size_t slash = network.find('/');
        const std::string address = network.substr(0, slash);
        int prefix = std::stoi(network.substr(slash + 1));
        unsigned char bytes[16] = {};
        std::vector<int> bits;
        if (inet_pton(AF_INET, address.c_str(), bytes) == 1) {
            if (ipVersion_ == 6) {
                bits.assign(96, 0);
                prefix += 96;
            }
            appendBits(bits, bytes, 4);
        } else if (ipVersion_ == 6 && inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
            appendBits(bits, bytes, 16);
        } else {
            throw std::invalid_argument("no network for this tree: " + network);
        }
        const Record data{Record::Data, static_cast<std::uint32_t>(data_.size())};
        record.encode(data_);
        std::uint32_t node = 0;
        for (int i = 0; i + 1 < prefix; ++i) {
            const Record next = nodes_[node].side[bits[static_cast<std::size_t>(i)]];
            if (next.kind == Record::Node) {
                node = next.index;
                continue;
            }
            // Empty, or a shorter network: both halves keep what it held.
            nodes_.push_back({{next, next}});
            const auto added = static_cast<std::uint32_t>(nodes_.size() - 1);
            nodes_[node].side[bits[static_cast<std::size_t>(i)]] = {Record::Node, added};
            node = added;
        }
        nodes_[node].side[bits[static_cast<std::size_t>(prefix - 1)]] = data;
    }

    // The file: the tree, 16 zero bytes, the data section, the marker and
    // the metadata map.
    std::string bytes() const {
        const auto count = static_cast<std::uint32_t>(nodes_.size());
        std::string out;
        for (const Node& node : nodes_) {
            for (const Record& record : node.side) {
                const std::uint32_t value = record.kind == Record::Node ? record.index
                                            : record.kind == Record::Data
                                                ? count + 16 + record.index
                                                : count;
                out += static_cast<char>((value >> 16) & 0xFF);
                out += static_cast<char>((value >> 8) & 0xFF);
                out += static_cast<char>(value & 0xFF);
            }
        }
        out.append(16, '\0');
        out += data_;
        out += "\xAB\xCD\xEFMaxMind.com";
        using Kind = MmdbValue::Kind;
        MmdbMap({{"binary_format_major_version", MmdbNumber(Kind::Uint16, 2)},
                 {"binary_format_minor_version", MmdbNumber(Kind::Uint16, 0)},
                 {"build_epoch", MmdbNumber(Kind::Uint64, 1700000000)},
                 {"database_type", MmdbText(databaseType_)},
                 {"description", MmdbMap({{"en", MmdbText("LogDesk test database")}})},
                 {"ip_version", MmdbNumber(Kind::Uint16, static_cast<std::uint64_t>(ipVersion_))},
                 {"languages", MmdbArray({MmdbText("en"), MmdbText("zh-CN")})},
                 {"node_count", MmdbNumber(Kind::Uint32, count)},
                 {"record_size", MmdbNumber(Kind::Uint16, 24)}})
            .encode(out);
        return out;
    }

private:
    struct Record {
        enum Kind { Empty, Node, Data } kind = Empty;
        std::uint32_t index = 0; // the node, or the record's offset in the data section
    };
    struct Node {
        Record side[2]; // bit 0, bit 1
    };

    static void appendBits(std::vector<int>& bits, const unsigned char* bytes, int count) {
        for (int i = 0; i < count * 8; ++i) {
            bits.push_back((bytes[i / 8] >> (7 - i % 8)) & 1);
        }
    }

    int ipVersion_;
    std::string databaseType_;
    std::vector<Node> nodes_{1}; // the root first
    std::string data_;
};

// The names map of a record: {"en": en, "zh-CN": zh}, leaving out an empty one.
inline MmdbValue MmdbNames(const std::string& en, const std::string& zh = {}) {
    MmdbValue names = MmdbMap({});
    if (!en.empty()) {
        names.keys.push_back("en");
        names.values.push_back(MmdbText(en));
    }
    if (!zh.empty()) {
        names.keys.push_back("zh-CN");
        names.values.push_back(MmdbText(zh));
    }
    return names;
}

} // namespace logdesk::testing
