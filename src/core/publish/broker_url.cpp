#include "publish/broker_url.h"

#include <charconv>

namespace tarvelo::publish {

namespace {

std::optional<BrokerUrl> refuse(std::string& error, std::string text) {
    error = std::move(text);
    return std::nullopt;
}

}  // namespace

std::optional<BrokerUrl> parseBrokerUrl(std::string_view url, std::string& error) {
    BrokerUrl result;
    std::string_view rest;
    if (url.starts_with("mqtt://")) {
        rest = url.substr(7);
    } else if (url.starts_with("mqtts://")) {
        rest = url.substr(8);
        result.tls = true;
        result.port = 8883;
    } else {
        return refuse(error, "the broker must be given as mqtt://HOST[:PORT]/PREFIX or "
                             "mqtts://HOST[:PORT]/PREFIX");
    }
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos)
        return refuse(error, "the broker URL needs a topic prefix after the host "
                             "(mqtt://HOST/PREFIX)");
    std::string_view authority = rest.substr(0, slash);
    std::string_view prefix = rest.substr(slash + 1);
    if (authority.find('@') != std::string_view::npos)
        return refuse(error, "the broker URL must not hold a user or password; use "
                             "--mqtt-user and --mqtt-password-file");

    std::string_view portText;
    if (authority.starts_with("[")) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos)
            return refuse(error, "the broker URL has an IPv6 address without its closing ]");
        result.host = std::string(authority.substr(1, close - 1));
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return refuse(error, "unexpected text after the IPv6 address in the broker URL");
            portText = after.substr(1);
            if (portText.empty())
                return refuse(error, "the broker URL has a colon but no port");
        }
    } else {
        const auto colon = authority.rfind(':');
        result.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
            if (portText.empty())
                return refuse(error, "the broker URL has a colon but no port");
        }
    }
    if (result.host.empty())
        return refuse(error, "the broker URL has no host");
    if (!portText.empty()) {
        int port = 0;
        const auto [end, ec] =
            std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (ec != std::errc() || end != portText.data() + portText.size() || port < 1 ||
            port > 65535)
            return refuse(error, "the broker's port must be a number from 1 to 65535, not " +
                                     std::string(portText));
        result.port = port;
    }

    while (prefix.ends_with('/'))
        prefix.remove_suffix(1);
    if (prefix.empty())
        return refuse(error, "the broker URL needs a topic prefix after the host "
                             "(mqtt://HOST/PREFIX)");
    if (prefix.find_first_of("+#") != std::string_view::npos)
        return refuse(error, "the topic prefix must not hold the wildcards + or #");
    if (prefix.find("//") != std::string_view::npos || prefix.front() == '/')
        return refuse(error, "the topic prefix must not have an empty level (//)");
    for (const char c : prefix)
        if (static_cast<unsigned char>(c) < 0x20)
            return refuse(error, "the topic prefix must not hold control characters");
    result.prefix = std::string(prefix);
    return result;
}

}  // namespace tarvelo::publish
