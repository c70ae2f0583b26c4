#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvelo::publish {

// Where a recording publishes: mqtt://HOST[:PORT]/PREFIX, or mqtts:// for
// TLS. HOST is a name, an IPv4 address or an IPv6 address in brackets; PORT
// defaults to 1883 (mqtt) or 8883 (mqtts); PREFIX is the topic the messages
// go under (PREFIX/samples, PREFIX/channels, PREFIX/status) and may hold
// slashes ("line1/station3"), but no wildcard and no empty level.
struct BrokerUrl {
    bool tls = false;
    std::string host;
    int port = 1883;
    std::string prefix;
};

// The URL, or nullopt with the reason in `error`. A user or password in the
// URL is refused: a password on the command line is seen by every user of
// the machine.
std::optional<BrokerUrl> parseBrokerUrl(std::string_view url, std::string& error);

}  // namespace tarvelo::publish
