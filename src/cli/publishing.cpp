#include "cli/publishing.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace tarvelo::cli {

namespace {

void notice(const std::string& text) {
    std::fprintf(stderr, "tarvelo-cli: %s\n", text.c_str());
}

// The first line of the file, without its line end; an empty file gives an
// empty password, which is none.
bool readPassword(const std::string& path, std::string& password, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "--mqtt-password-file: cannot read " + path;
        return false;
    }
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return true;
}

}  // namespace

bool Publishing::start(const Context& context, const acquisition::SampleList& captions,
                       const std::array<std::string, 4>& units, std::string& error, int& status) {
    const PublishOptions& given = *context.options.publish;
    status = kExitUsage;
    publish::PublisherOptions options;
    options.url = *publish::parseBrokerUrl(given.url, error);  // checked by the parser
    options.qos = given.qos;
    options.clientId = given.clientId.value_or(
        "tarvelo-" + context.settings.ipServer() + "-" + std::to_string(context.settings.port.load()));
    options.queueBytes = static_cast<std::size_t>(std::llround(given.queueMb * 1024 * 1024));
    options.user = given.user.value_or("");
    std::string password;
    if (given.passwordFile) {
        if (!readPassword(*given.passwordFile, password, error))
            return false;
    } else if (const char* fromEnvironment = std::getenv("TARVELO_MQTT_PASSWORD")) {
        password = fromEnvironment;
    } else if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY")) {
        // The service unit hands the password over as a systemd credential.
        const std::string path = std::string(credentials) + "/mqtt-password";
        if (::access(path.c_str(), F_OK) == 0 && !readPassword(path, password, error))
            return false;
    }
    if (!password.empty()) {
        if (options.user.empty()) {
            error = "a broker password needs --mqtt-user";
            return false;
        }
        options.password = password;
    }
    options.caFile = given.caFile.value_or("");
    options.certFile = given.certFile.value_or("");
    options.keyFile = given.keyFile.value_or("");
    drain_ = std::chrono::milliseconds(std::llround(given.drainSeconds * 1000));
    where_ = given.url;

    publish::Channels channels;
    for (int c = 0; c < 4; ++c) {
        channels[static_cast<std::size_t>(c)].caption = captions.channelCaption(c + 1);
        if (!units[static_cast<std::size_t>(c)].empty())
            channels[static_cast<std::size_t>(c)].unit = units[static_cast<std::size_t>(c)];
    }
    publisher_ = std::make_unique<publish::Publisher>(std::move(options));
    status = kExitFailure;
    if (!publisher_->start(channels, std::chrono::seconds(5), error)) {
        publisher_.reset();
        return false;
    }
    for (const auto& text : publisher_->takeNotices())
        notice(text);
    sink_ = std::make_unique<publish::RecordingPublisher>(*publisher_, notice);
    status = kExitOk;
    return true;
}

bool Publishing::finish(acquisition::RecordingEnd end) {
    if (!publisher_)
        return true;
    if (publisher_->counts().samples != publisher_->counts().acknowledged) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", std::chrono::duration<double>(drain_).count());
        notice("waiting up to " + std::string(seconds) + " s for the broker to take the last samples");
    }
    const auto counts = publisher_->finish(publish::endReason(end), drain_);
    for (const auto& text : publisher_->takeNotices())
        notice(text);
    publisher_.reset();
    std::string text = "published " + std::to_string(counts.samples) + " samples to " + where_;
    if (counts.complete()) {
        notice(text + ", every one acknowledged");
        return true;
    }
    text += ": " + std::to_string(counts.acknowledged) + " acknowledged";
    if (counts.dropped > 0)
        text += ", " + std::to_string(counts.dropped) + " dropped from the full queue (--queue-mb)";
    if (counts.undelivered > 0)
        text += ", " + std::to_string(counts.undelivered) + " undelivered after waiting for the broker";
    notice(text);
    return false;
}

}  // namespace tarvelo::cli
