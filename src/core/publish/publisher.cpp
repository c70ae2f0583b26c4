#include "publish/publisher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <mosquitto.h>
#include <optional>

namespace tarvelo::publish {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Between connection attempts: the first soon, then every two seconds.
constexpr auto kFirstRetry = 1s;
constexpr auto kRetry = 2s;
// After a loss, the status is published again at most this often while
// samples are being dropped.
constexpr auto kStatusInterval = 1s;
// The samples the pump hands over in one go, without the lock.
constexpr std::size_t kBatch = 256;
// How long the pump gathers samples that come one by one before it hands
// them over: a few milliseconds of latency for far fewer wake-ups.
constexpr auto kGather = 5ms;

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string describe(int rc, int savedErrno) {
    if (rc == MOSQ_ERR_ERRNO)
        return std::strerror(savedErrno);
    return mosquitto_strerror(rc);
}

std::string hostText(const BrokerUrl& url) {
    const bool v6 = url.host.find(':') != std::string::npos;
    return (v6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port);
}

}  // namespace

Publisher::Publisher(PublisherOptions options) : options_(std::move(options)) {
    samplesTopic_ = options_.url.prefix + "/samples";
    channelsTopic_ = options_.url.prefix + "/channels";
    statusTopic_ = options_.url.prefix + "/status";
}

Publisher::~Publisher() {
    if (!finished_)
        finish("stopped", 0ms);
}

bool Publisher::start(const Channels& channels, std::chrono::milliseconds wait,
                      std::string& error) {
    initLibrary();
    channelsPayload_ = channelsPayload(channels);
    for (std::size_t c = 0; c < channels.size(); ++c)
        connectedChannels_[c] = channels[c].unit.has_value();
    const std::string broker = "the broker at " + hostText(options_.url);

    client_ = mosquitto_new(options_.clientId.c_str(), true, this);
    if (client_ == nullptr) {
        error = std::string("cannot create the MQTT client: ") + std::strerror(errno);
        return false;
    }
    // The pump publishes from a thread of its own while the network thread
    // runs the loop: libmosquitto then only queues and wakes the loop.
    mosquitto_threaded_set(client_, true);
    mosquitto_max_inflight_messages_set(client_, 20);
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    int rc = MOSQ_ERR_SUCCESS;
    if (!options_.user.empty())
        rc = mosquitto_username_pw_set(client_, options_.user.c_str(),
                                       options_.password ? options_.password->c_str() : nullptr);
    if (rc == MOSQ_ERR_SUCCESS && options_.url.tls) {
        const char* ca = options_.caFile.empty() ? nullptr : options_.caFile.c_str();
        rc = mosquitto_tls_set(client_, ca, ca ? nullptr : "/etc/ssl/certs",
                               options_.certFile.empty() ? nullptr : options_.certFile.c_str(),
                               options_.keyFile.empty() ? nullptr : options_.keyFile.c_str(),
                               nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "cannot use the TLS files (--mqtt-cafile, --mqtt-cert, --mqtt-key): " +
                    describe(rc, errno);
            stopClient();
            return false;
        }
    }
    if (rc == MOSQ_ERR_SUCCESS) {
        const std::string will = lastWillPayload();
        rc = mosquitto_will_set(client_, statusTopic_.c_str(), static_cast<int>(will.size()),
                                will.data(), options_.qos, true);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "cannot set up the MQTT client: " + describe(rc, errno);
        stopClient();
        return false;
    }
    mosquitto_connect_callback_set(client_, &Publisher::onConnect);
    mosquitto_disconnect_callback_set(client_, &Publisher::onDisconnect);
    mosquitto_publish_callback_set(client_, &Publisher::onPublish);
    mosquitto_log_callback_set(client_, &Publisher::onLog);

    networkThread_ = std::thread(&Publisher::network, this);
    pumpThread_ = std::thread(&Publisher::pump, this);

    std::unique_lock lock(mutex_);
    ++settleWaiters_;
    settled_.wait_for(lock, wait, [&] { return answered_ || failedAttempts_ > 0; });
    --settleWaiters_;
    if (refusal_ != 0) {
        error = broker + " refused the connection: " + mosquitto_connack_string(refusal_);
        if (refusal_ == 4 || refusal_ == 5)
            error += " (check --mqtt-user and the password)";
        lock.unlock();
        stopClient();
        return false;
    }
    const bool tlsFailed = lastError_.find("SSL") != std::string::npos ||
                           lastError_.find("TLS") != std::string::npos ||
                           lastError_.find("certificate") != std::string::npos;
    if (!answered_ && tlsFailed) {
        error = "the TLS connection to " + broker.substr(4) + " failed: " + lastError_;
        lock.unlock();
        stopClient();
        return false;
    }
    if (!answered_)
        notices_.push_back(broker + " cannot be reached" +
                           (lastError_.empty() ? std::string() : " (" + lastError_ + ")") +
                           "; the samples wait in the queue until it can");
    return true;
}

void Publisher::stopClient() {
    {
        std::lock_guard lock(mutex_);
        stopPump_ = true;
        stopNetwork_ = true;
    }
    wake_.notify_all();
    if (client_ != nullptr)
        mosquitto_disconnect(client_);
    if (pumpThread_.joinable())
        pumpThread_.join();
    if (networkThread_.joinable())
        networkThread_.join();
    if (client_ != nullptr)
        mosquitto_destroy(client_);
    client_ = nullptr;
    finished_ = true;
}

void Publisher::network() {
    auto retryAt = Clock::now();
    auto delay = kFirstRetry;
    bool socketOpen = false;
    std::optional<Clock::time_point> stopBy;
    while (true) {
        {
            std::unique_lock lock(mutex_);
            if (stopNetwork_) {
                // A connected client sends its DISCONNECT first (the loop
                // returns once it is out); anything else ends at once.
                if (!stopBy)
                    stopBy = Clock::now() + 2s;
                if (!socketOpen || !connected_ || Clock::now() > *stopBy)
                    break;
            } else if (!socketOpen) {
                wake_.wait_until(lock, retryAt, [&] { return stopNetwork_; });
                if (stopNetwork_)
                    break;
            }
        }
        if (!socketOpen) {
            const int rc = mosquitto_connect_async(client_, options_.url.host.c_str(),
                                                   options_.url.port, options_.keepAliveSeconds);
            const int savedErrno = errno;
            if (rc != MOSQ_ERR_SUCCESS) {
                std::lock_guard lock(mutex_);
                lastError_ = describe(rc, savedErrno);
                ++failedAttempts_;
                retryAt = Clock::now() + delay;
                delay = kRetry;
                settled_.notify_all();
                continue;
            }
            socketOpen = true;
        }
        const int rc = mosquitto_loop(client_, 100, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            const int savedErrno = errno;
            std::lock_guard lock(mutex_);
            if (rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST && rc != MOSQ_ERR_CONN_REFUSED)
                lastError_ = describe(rc, savedErrno);
            else if (rc == MOSQ_ERR_CONN_LOST && lastError_.empty())
                lastError_ = describe(rc, savedErrno);
            if (connected_) {
                connected_ = false;
                notices_.push_back("the connection to the broker at " + hostText(options_.url) +
                                   " was lost; the samples wait in the queue until it is back");
            }
            socketOpen = false;
            ++failedAttempts_;
            retryAt = Clock::now() + (everConnected_ ? kFirstRetry : delay);
            delay = kRetry;
            settled_.notify_all();
        }
    }
}

void Publisher::onConnect(mosquitto*, void* self, int rc) {
    auto* publisher = static_cast<Publisher*>(self);
    std::lock_guard lock(publisher->mutex_);
    publisher->answered_ = true;
    if (rc != 0) {
        publisher->refusal_ = rc;
        publisher->lastError_ = mosquitto_connack_string(rc);
    } else {
        publisher->refusal_ = 0;
        publisher->lastError_.clear();
        if (publisher->everConnected_)
            publisher->notices_.push_back(
                "connected to the broker at " + hostText(publisher->options_.url) + " again; " +
                std::to_string(publisher->queue_.size() + publisher->inFlightSamples_) +
                " samples were waiting");
        if (publisher->options_.qos == 0) {
            // QoS 0 messages that had not gone out when the connection broke
            // were thrown away with it: they stay undelivered, and must not
            // hold the window.
            for (auto it = publisher->inFlight_.begin(); it != publisher->inFlight_.end();) {
                if (it->second.sample)
                    --publisher->inFlightSamples_;
                publisher->inFlightBytes_ -= it->second.bytes;
                it = publisher->inFlight_.erase(it);
            }
            publisher->earlyAcks_.clear();
        }
        publisher->connected_ = true;
        publisher->everConnected_ = true;
        ++publisher->generation_;
    }
    publisher->wake_.notify_all();
    publisher->settled_.notify_all();
}

void Publisher::onDisconnect(mosquitto*, void* self, int) {
    auto* publisher = static_cast<Publisher*>(self);
    std::lock_guard lock(publisher->mutex_);
    if (publisher->connected_ && !publisher->stopNetwork_)
        publisher->notices_.push_back("the connection to the broker at " +
                                      hostText(publisher->options_.url) +
                                      " was lost; the samples wait in the queue until it is back");
    publisher->connected_ = false;
    publisher->settled_.notify_all();
}

void Publisher::onPublish(mosquitto*, void* self, int mid) {
    auto* publisher = static_cast<Publisher*>(self);
    std::lock_guard lock(publisher->mutex_);
    if (publisher->inFlight_.count(mid) != 0)
        publisher->settle(mid);
    else
        publisher->earlyAcks_.insert(mid);
    // The pump waits for acknowledgements only while its window is full.
    if (publisher->pumpWaitsForWindow_)
        publisher->wake_.notify_one();
    if (publisher->settleWaiters_ > 0)
        publisher->settled_.notify_all();
}

void Publisher::onLog(mosquitto*, void* self, int level, const char* text) {
    if (level != MOSQ_LOG_ERR || text == nullptr)
        return;
    auto* publisher = static_cast<Publisher*>(self);
    std::lock_guard lock(publisher->mutex_);
    publisher->lastError_ = text;
}

void Publisher::settle(int mid) {
    const auto it = inFlight_.find(mid);
    if (it->second.sample) {
        --inFlightSamples_;
        ++counts_.acknowledged;
    }
    inFlightBytes_ -= it->second.bytes;
    inFlight_.erase(it);
}

void Publisher::registerSent(int mid, bool sample, std::size_t bytes) {
    inFlight_[mid] = InFlight{sample, bytes};
    inFlightBytes_ += bytes;
    if (sample)
        ++inFlightSamples_;
    if (earlyAcks_.erase(mid) != 0)
        settle(mid);
}

Status Publisher::statusNow() const {
    Status status;
    status.samples = counts_.samples;
    status.dropped = counts_.dropped;
    return status;
}

void Publisher::publishControl(const std::string& topic, const std::string& payload) {
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), options_.qos, true);
    std::lock_guard lock(mutex_);
    if (rc == MOSQ_ERR_SUCCESS)
        registerSent(mid, false, payload.size() + topic.size());
}

void Publisher::publish(const acquisition::SampleRow* rows, std::size_t n) {
    if (n == 0)
        return;
    bool wasEmpty;
    {
        std::lock_guard lock(mutex_);
        // A pump with samples on hand is busy, or waits for the window or
        // the connection, and is woken by those.
        wasEmpty = queue_.empty();
        for (std::size_t i = 0; i < n; ++i)
            queue_.push_back(Queued{nextNumber_++, rows[i]});
        counts_.samples += n;
        // The oldest samples that have not yet been handed over make room.
        const std::size_t limit = options_.queueBytes;
        const std::size_t used = queue_.size() * kQueuedSampleBytes + inFlightBytes_;
        if (used > limit) {
            const std::size_t excess = (used - limit + kQueuedSampleBytes - 1) / kQueuedSampleBytes;
            const std::size_t drop = std::min(excess, queue_.size());
            if (drop > 0 && counts_.dropped == 0)
                notices_.push_back("the queue for the broker is full (--queue-mb); the oldest "
                                   "samples are being dropped");
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(drop));
            counts_.dropped += drop;
        }
    }
    if (wasEmpty)
        wake_.notify_one();
}

void Publisher::pump() {
    uint64_t seenGeneration = 0;
    auto lastStatus = Clock::now() - kStatusInterval;
    std::vector<Queued> batch;
    std::vector<std::pair<int, std::size_t>> sent;
    std::string payload;
    std::unique_lock lock(mutex_);
    while (!stopPump_) {
        const bool fresh = connected_ && generation_ != seenGeneration;
        const bool statusDue = connected_ && counts_.dropped != droppedReported_ &&
                               Clock::now() - lastStatus >= kStatusInterval;
        const bool room = connected_ && !queue_.empty() && inFlightSamples_ < kWindow &&
                          inFlightBytes_ < std::max<std::size_t>(options_.queueBytes / 4, 4096);
        if (!fresh && !statusDue && !room) {
            // Woken by samples, acknowledgements and connections; the timeout
            // brings a due status out.
            pumpWaitsForWindow_ = connected_ && !queue_.empty();
            wake_.wait_for(lock, 250ms);
            pumpWaitsForWindow_ = false;
            if (connected_ && queue_.size() < kBatch && !stopPump_) {
                // Samples that come one by one are handed over a few at a
                // time: a wake-up of this thread and of libmosquitto's loop
                // per sample would cost more than the rest of the recording.
                wake_.wait_for(lock, kGather, [&] { return stopPump_ || queue_.size() >= kBatch; });
            }
            continue;
        }
        if (fresh || statusDue) {
            // After every connection the retained messages come first.
            seenGeneration = generation_;
            droppedReported_ = counts_.dropped;
            lastStatus = Clock::now();
            const std::string status = statusPayload(statusNow());
            lock.unlock();
            if (fresh)
                publishControl(channelsTopic_, channelsPayload_);
            publishControl(statusTopic_, status);
            lock.lock();
            continue;
        }
        const std::size_t take = std::min({kBatch, queue_.size(), kWindow - inFlightSamples_});
        batch.assign(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(take));
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(take));
        handing_ = take;
        lock.unlock();

        sent.clear();
        std::size_t handed = 0;
        for (; handed < batch.size(); ++handed) {
            payload.clear();
            appendSamplePayload(payload, batch[handed].n, batch[handed].row, connectedChannels_);
            int mid = 0;
            const int rc =
                mosquitto_publish(client_, &mid, samplesTopic_.c_str(),
                                  static_cast<int>(payload.size()), payload.data(), options_.qos,
                                  false);
            if (rc != MOSQ_ERR_SUCCESS)
                break;  // not connected (QoS 0): back into the queue
            sent.emplace_back(mid, payload.size() + samplesTopic_.size());
        }

        lock.lock();
        for (const auto& [mid, bytes] : sent)
            registerSent(mid, true, bytes);
        // What could not be handed over goes back to the front, in order.
        queue_.insert(queue_.begin(), batch.begin() + static_cast<std::ptrdiff_t>(handed),
                      batch.end());
        handing_ = 0;
        if (handed < batch.size())
            wake_.wait_for(lock, 100ms);
        if (settleWaiters_ > 0)
            settled_.notify_all();
    }
}

std::vector<std::string> Publisher::takeNotices() {
    std::lock_guard lock(mutex_);
    return std::exchange(notices_, {});
}

PublishCounts Publisher::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

bool Publisher::connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

PublishCounts Publisher::finish(const std::string& reason, std::chrono::milliseconds drain) {
    if (finished_ || client_ == nullptr) {
        finished_ = true;
        return counts();
    }
    const auto deadline = Clock::now() + drain;
    std::unique_lock lock(mutex_);
    ++settleWaiters_;  // from here on every acknowledgement is reported
    settled_.wait_until(lock, deadline, [&] {
        return queue_.empty() && handing_ == 0 && inFlightSamples_ == 0;
    });
    counts_.undelivered = counts_.samples - counts_.acknowledged - counts_.dropped;
    Status status = statusNow();
    status.online = false;
    status.reason = reason;
    status.undelivered = counts_.undelivered;
    const bool connected = connected_;
    stopPump_ = true;
    lock.unlock();
    wake_.notify_all();
    if (pumpThread_.joinable())
        pumpThread_.join();

    if (connected) {
        // The final status replaces "online"; it is waited for briefly even
        // when the drain time is over, so that the station does not look
        // online when it is not.
        const std::string payload = statusPayload(status);
        int mid = 0;
        if (mosquitto_publish(client_, &mid, statusTopic_.c_str(),
                              static_cast<int>(payload.size()), payload.data(), options_.qos,
                              true) == MOSQ_ERR_SUCCESS) {
            lock.lock();
            registerSent(mid, false, payload.size());
            settled_.wait_until(lock, std::max(deadline, Clock::now() + 2s),
                                [&] { return inFlight_.count(mid) == 0 || !connected_; });
            lock.unlock();
        }
    }
    const PublishCounts result = counts();
    stopClient();
    return result;
}

}  // namespace tarvelo::publish
