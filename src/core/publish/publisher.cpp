#include "publish/publisher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mosquitto.h>
#include <optional>
#include <poll.h>
#include <unistd.h>
#include <utility>

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
// them over: a few milliseconds of latency for far fewer wake-ups. The
// acknowledgements of the last batch are read with the next one.
constexpr auto kGather = 5ms;
// The longest the pump sleeps when nothing happens: libmosquitto's
// keep-alive and a due status are looked after at least this often.
constexpr auto kIdle = 1s;
// How long a connected client may take to send its DISCONNECT when stopping.
constexpr auto kStopTime = 2s;
// Packets libmosquitto may read in one call; reading stops early when the
// socket has no more. A write call writes whatever is queued, and calls
// asked for more than one spin on an empty queue.
constexpr int kReadPackets = 4096;

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

Publisher::Publisher(PublisherOptions options)
    : options_(std::move(options)), window_(options_.qos == 2 ? kQos2Window : kWindow) {
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

    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        error = std::string("cannot create the MQTT client: ") + std::strerror(errno);
        return false;
    }
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    for (const int fd : pipeEnds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    client_ = mosquitto_new(options_.clientId.c_str(), true, this);
    if (client_ == nullptr) {
        error = std::string("cannot create the MQTT client: ") + std::strerror(errno);
        stopClient();
        return false;
    }
    // The pump drives libmosquitto's loop itself. Marked as threaded,
    // libmosquitto only queues what is published, and the pump writes a
    // whole batch in one go instead of one write per call.
    mosquitto_threaded_set(client_, true);
    // libmosquitto sends at once what fits its limit of unacknowledged
    // messages and the rest one per acknowledgement; the pump's window keeps
    // within it, with room for the retained messages, so that a batch goes
    // out in one go.
    mosquitto_max_inflight_messages_set(client_, static_cast<unsigned>(window_ + kControlRoom));
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
        stop_ = true;
        if (wakeWrite_ >= 0)
            wakePump();
    }
    if (pumpThread_.joinable())
        pumpThread_.join();
    if (client_ != nullptr)
        mosquitto_destroy(client_);
    client_ = nullptr;
    for (int* fd : {&wakeRead_, &wakeWrite_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    finished_ = true;
}

void Publisher::wakePump() {
    if (wakePending_)
        return;
    wakePending_ = true;
    const char byte = 0;
    // A full pipe already wakes the pump.
    [[maybe_unused]] const auto written = ::write(wakeWrite_, &byte, 1);
}

bool Publisher::connect() {
    const int rc = mosquitto_connect_async(client_, options_.url.host.c_str(), options_.url.port,
                                           options_.keepAliveSeconds);
    const int savedErrno = errno;
    std::lock_guard lock(mutex_);
    if (rc == MOSQ_ERR_SUCCESS) {
        socketOpen_ = true;
        return true;
    }
    lastError_ = describe(rc, savedErrno);
    ++failedAttempts_;
    retryAt_ = Clock::now() + retryDelay_;
    retryDelay_ = kRetry;
    settled_.notify_all();
    return false;
}

void Publisher::lost(int rc, int savedErrno) {
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST &&
        rc != MOSQ_ERR_CONN_REFUSED)
        lastError_ = describe(rc, savedErrno);
    else if (rc == MOSQ_ERR_CONN_LOST && lastError_.empty())
        lastError_ = describe(rc, savedErrno);
    if (connected_ && !stop_)
        notices_.push_back("the connection to the broker at " + hostText(options_.url) +
                           " was lost; the samples wait in the queue until it is back");
    connected_ = false;
    socketOpen_ = false;
    ++failedAttempts_;
    retryAt_ = Clock::now() + (everConnected_ ? kFirstRetry : retryDelay_);
    retryDelay_ = kRetry;
    settled_.notify_all();
}

void Publisher::pump() {
    uint64_t seenGeneration = 0;
    auto lastStatus = Clock::now() - kStatusInterval;
    auto lastHandOver = Clock::now() - kGather;
    std::optional<Clock::time_point> stopBy;
    std::vector<Queued> batch;
    std::vector<std::pair<int, std::size_t>> sent;
    std::string payload;
    {
        std::lock_guard lock(mutex_);
        retryAt_ = Clock::now();
        retryDelay_ = kFirstRetry;
    }
    while (true) {
        auto now = Clock::now();
        auto wakeAt = now + kIdle;
        bool connectNow = false;
        bool gathering = false;  // sleeps until the next hand-over, acknowledgements unread
        bool sendChannels = false;
        std::optional<std::string> status;
        std::optional<std::string> finalStatus;
        std::size_t take = 0;
        {
            std::unique_lock lock(mutex_);
            pumpWaitsForSamples_ = false;
            if (stop_ && !stopBy) {
                stopBy = now + kStopTime;
                if (!socketOpen_ || !connected_)
                    break;
                // The broker is told that the station leaves on purpose: no
                // last will. The loop below writes the DISCONNECT.
                lock.unlock();
                mosquitto_disconnect(client_);
                lock.lock();
            }
            if (stopBy) {
                if (!socketOpen_ || now >= *stopBy)
                    break;
                wakeAt = std::min(wakeAt, *stopBy);
            } else if (!socketOpen_) {
                if (now >= retryAt_)
                    connectNow = true;
                else
                    wakeAt = std::min(wakeAt, retryAt_);
            } else if (connected_) {
                if (generation_ != seenGeneration) {
                    // After every connection the retained messages come first.
                    seenGeneration = generation_;
                    sendChannels = true;
                    status = statusPayload(statusNow());
                } else if (counts_.dropped != droppedReported_) {
                    if (now - lastStatus >= kStatusInterval)
                        status = statusPayload(statusNow());
                    else
                        wakeAt = std::min(wakeAt, lastStatus + kStatusInterval);
                }
                if (status) {
                    droppedReported_ = counts_.dropped;
                    lastStatus = now;
                }
                if (finalStatus_ && !finalHandled_) {
                    finalStatus = *finalStatus_;
                    finalHandled_ = true;
                }
                const bool room =
                    !finalStatus_ && !queue_.empty() && inFlight_.size() < window_ &&
                    inFlightBytes_ < std::max<std::size_t>(options_.queueBytes / 4, 4096);
                if (!finalStatus_ && now < lastHandOver + kGather &&
                    !(room && queue_.size() >= kBatch)) {
                    // Samples that come one by one are handed over a few at
                    // a time, and the acknowledgements of the last batch are
                    // read with the next: a wake-up of this thread per sample
                    // would cost more than the rest of the recording.
                    gathering = true;
                    wakeAt = std::min(wakeAt, lastHandOver + kGather);
                } else if (room) {
                    take = std::min({kBatch, queue_.size(), window_ - inFlight_.size()});
                    batch.assign(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(take));
                    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(take));
                    handing_ = take;
                    lastHandOver = now;
                } else if (queue_.empty() && !finalStatus_) {
                    pumpWaitsForSamples_ = true;
                }
            }
        }

        if (connectNow) {
            connect();
            continue;
        }
        bool handedOver = false;
        if (sendChannels)
            publishControl(channelsTopic_, channelsPayload_);
        if (status)
            publishControl(statusTopic_, *status);
        if (finalStatus) {
            const int mid = publishControl(statusTopic_, *finalStatus);
            std::lock_guard lock(mutex_);
            finalMid_ = mid;
            finalPublished_ = true;
            settled_.notify_all();
        }
        if (take > 0) {
            sent.clear();
            std::size_t handed = 0;
            for (; handed < batch.size(); ++handed) {
                payload.clear();
                appendSamplePayload(payload, batch[handed].n, batch[handed].row,
                                    connectedChannels_);
                int mid = 0;
                const int rc = mosquitto_publish(client_, &mid, samplesTopic_.c_str(),
                                                 static_cast<int>(payload.size()), payload.data(),
                                                 options_.qos, false);
                if (rc != MOSQ_ERR_SUCCESS)
                    break;  // not connected (QoS 0): back into the queue
                sent.emplace_back(mid, payload.size() + samplesTopic_.size());
            }
            std::lock_guard lock(mutex_);
            for (const auto& [mid, bytes] : sent)
                registerSent(mid, true, bytes);
            // What could not be handed over goes back to the front, in order.
            queue_.insert(queue_.begin(), batch.begin() + static_cast<std::ptrdiff_t>(handed),
                          batch.end());
            handing_ = 0;
            if (settleWaiters_ > 0)
                settled_.notify_all();
            handedOver = handed > 0;
        }
        const bool wrote = sendChannels || status || finalStatus || handedOver;

        // Reads and writes the connection. While gathering, the
        // acknowledgements wait in the socket for the next hand-over.
        const int sock = socketOpen_ ? mosquitto_socket(client_) : -1;
        if (socketOpen_ && sock < 0) {
            std::lock_guard lock(mutex_);
            lost(MOSQ_ERR_NO_CONN, 0);
            continue;
        }
        pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {sock, 0, 0}};
        if (sock >= 0) {
            if (!gathering)
                fds[1].events |= POLLIN;
            if (mosquitto_want_write(client_))
                fds[1].events |= POLLOUT;
        }
        // What was just handed over goes out at once; anything else waits
        // for the socket, the pipe or the time.
        int ready = 0;
        if (!wrote) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now());
            ready = ::poll(fds, sock >= 0 ? 2 : 1,
                           static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            {
                std::lock_guard lock(mutex_);
                wakePending_ = false;
            }
            // One byte is written per wake-up; more left over wake poll() again.
            char drain[64];
            [[maybe_unused]] const auto got = ::read(wakeRead_, drain, sizeof drain);
        }
        if (sock < 0)
            continue;
        int rc = MOSQ_ERR_SUCCESS;
        if ((ready > 0 && (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0) ||
            (gathering && Clock::now() >= wakeAt))
            rc = mosquitto_loop_read(client_, kReadPackets);  // with the acknowledgements gathered
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(client_))
            rc = mosquitto_loop_write(client_, 1);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_loop_misc(client_);
        if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(client_) < 0) {
            const int savedErrno = errno;
            std::lock_guard lock(mutex_);
            lost(rc, savedErrno);
        }
    }
    std::lock_guard lock(mutex_);
    pumpWaitsForSamples_ = false;
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
    publisher->settled_.notify_all();
}

void Publisher::onDisconnect(mosquitto*, void* self, int) {
    auto* publisher = static_cast<Publisher*>(self);
    std::lock_guard lock(publisher->mutex_);
    if (publisher->connected_ && !publisher->stop_)
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

int Publisher::publishControl(const std::string& topic, const std::string& payload) {
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), options_.qos, true);
    if (rc != MOSQ_ERR_SUCCESS)
        return -1;
    std::lock_guard lock(mutex_);
    registerSent(mid, false, payload.size() + topic.size());
    return mid;
}

void Publisher::publish(const acquisition::SampleRow* rows, std::size_t n) {
    if (n == 0)
        return;
    std::lock_guard lock(mutex_);
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
    // A pump that is busy, gathering, or waiting for the window or the
    // connection comes to the queue by itself.
    if (pumpWaitsForSamples_)
        wakePump();
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
        if (!finished_)
            stopClient();
        return counts();
    }
    const auto deadline = Clock::now() + drain;
    std::unique_lock lock(mutex_);
    ++settleWaiters_;  // from here on every acknowledgement is reported
    settled_.wait_until(lock, deadline, [&] {
        return queue_.empty() && handing_ == 0 && inFlightSamples_ == 0;
    });
    counts_.undelivered = counts_.samples - counts_.acknowledged - counts_.dropped;
    // What the final status says is what is returned, whatever is
    // acknowledged while it is on its way.
    const PublishCounts result = counts_;
    if (connected_) {
        // The final status replaces "online"; it is waited for briefly even
        // when the drain time is over, so that the station does not look
        // online when it is not. No sample is handed over after it.
        Status status = statusNow();
        status.online = false;
        status.reason = reason;
        status.undelivered = counts_.undelivered;
        finalStatus_ = statusPayload(status);
        wakePump();
        settled_.wait_until(lock, std::max(deadline, Clock::now() + 2s), [&] {
            return !connected_ ||
                   (finalPublished_ && (finalMid_ < 0 || inFlight_.count(finalMid_) == 0));
        });
    }
    lock.unlock();
    stopClient();
    return result;
}

}  // namespace tarvelo::publish
