#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "acquisition/sample_row.h"
#include "publish/broker_url.h"
#include "publish/payload.h"

struct mosquitto;

namespace tarvelo::publish {

struct PublisherOptions {
    BrokerUrl url;
    std::string clientId;  // stable across runs, so the broker knows the station
    std::string user;      // empty: no user name
    std::optional<std::string> password;
    std::string caFile;    // mqtts: the CA that signed the broker's certificate
                           // (empty: the system's CA certificates)
    std::string certFile;  // mqtts: this client's certificate and key, when
    std::string keyFile;   // the broker asks for one
    int qos = 1;
    // Memory for samples that wait for the broker; past it the oldest are
    // dropped and counted.
    std::size_t queueBytes = std::size_t{64} << 20;
    int keepAliveSeconds = 10;
};

struct PublishCounts {
    uint64_t samples = 0;       // handed to publish()
    uint64_t acknowledged = 0;  // acknowledged by the broker (QoS 0: written to it)
    uint64_t dropped = 0;       // dropped from the full queue, oldest first
    uint64_t undelivered = 0;   // at finish(): neither acknowledged nor dropped
    bool complete() const { return acknowledged == samples; }
};

// Publishes a recording's samples to an MQTT broker with libmosquitto:
// PREFIX/samples one message per sample, in order; PREFIX/channels and
// PREFIX/status retained, sent again after every reconnect (a broker that
// restarted without persistence has forgotten them); a last will marks the
// station offline if the connection breaks.
//
// publish() never waits for the broker: samples go into a queue bounded by
// `queueBytes`. One thread of the publisher's own, the pump, is the only one
// that calls libmosquitto once start() has begun: it waits in poll() on the
// broker's socket and on a pipe that publish() and finish() write to, hands
// queued samples to libmosquitto in order while the broker is connected (at
// most a window of unacknowledged ones at a time, gathered for a few milliseconds so
// that a batch costs one wake-up), writes and reads the connection, and
// connects again after any loss, every one to two seconds, whatever the
// cause.
//
// Order: the samples go onto the connection in the order of n, after a
// reconnect too. libmosquitto sends the unacknowledged ones again as soon as
// the broker accepts the new connection, in their order, inside the same
// read that reports the connection, so no later sample can be handed over
// before them (a second thread publishing at that moment could overtake
// them). The broker keeps one client's messages on a topic in the order it
// received them, so a subscriber whose session lasts (QoS 1 or 2) receives
// the first copy of every sample in order of n; QoS 1 may bring a sample
// that was sent again a second time, later, which the subscriber removes by
// n. Samples dropped from a full queue are missing, and counted.
//
// libmosquitto's callbacks only update the publisher's counters under its
// lock, and libmosquitto is never called with that lock held.
class Publisher {
public:
    explicit Publisher(PublisherOptions options);
    ~Publisher();  // finish("stopped", 0) when not finished
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Starts connecting and waits up to `wait` for the broker's first answer.
    // False, with the reason, for what does not mend by retrying: options
    // the library refuses (a TLS file that cannot be read), a broker that
    // refuses the credentials or the client id, a failed TLS handshake. A
    // broker that cannot be reached is no error: samples wait in the queue
    // and a notice says so.
    bool start(const Channels& channels, std::chrono::milliseconds wait, std::string& error);

    // Numbers the samples on from the last (n = 1, 2, ...) and queues them.
    void publish(const acquisition::SampleRow* rows, std::size_t n);

    // What happened since the last call, one sentence each, for the
    // operator: the broker lost and back, the queue overflowing.
    std::vector<std::string> takeNotices();

    // Waits up to `drain` for every queued and unacknowledged sample, then
    // publishes the final status with `reason` and disconnects (no last will).
    PublishCounts finish(const std::string& reason, std::chrono::milliseconds drain);

    PublishCounts counts() const;
    bool connected() const;

    // Unacknowledged samples handed to libmosquitto at a time. At QoS 2 the
    // broker keeps every message until its exchange is complete, and
    // mosquitto takes at most 20 at a time from a client
    // (max_inflight_messages): it acknowledges the excess without passing it
    // on, and an MQTT 3.1.1 broker cannot tell the client its limit. The QoS 2
    // window with the retained messages stays within those 20.
    static constexpr std::size_t kWindow = 1000;
    static constexpr std::size_t kQos2Window = 16;
    static constexpr std::size_t kControlRoom = 4;
    // What a queued sample costs in the queue.
    static constexpr std::size_t kQueuedSampleBytes = 64;

private:
    struct Queued {
        uint64_t n;
        acquisition::SampleRow row;
    };
    struct InFlight {
        bool sample;
        std::size_t bytes;
    };

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    void pump();
    // One connection attempt and what follows from its failure; lock not held.
    bool connect();
    // The connection is gone: notices, counters, when to try again; lock held.
    void lost(int rc, int savedErrno);
    // Wakes the pump from its poll(); lock held.
    void wakePump();
    // Publishes one control message (channels or status, retained); lock not held.
    int publishControl(const std::string& topic, const std::string& payload);
    void registerSent(int mid, bool sample, std::size_t bytes);  // lock held
    void settle(int mid);                                        // lock held
    Status statusNow() const;                                    // lock held
    void stopClient();

    PublisherOptions options_;
    std::size_t window_;
    std::string samplesTopic_, channelsTopic_, statusTopic_;
    std::string channelsPayload_;
    std::array<bool, 4> connectedChannels_{true, true, true, true};
    mosquitto* client_ = nullptr;
    std::thread pumpThread_;
    int wakeRead_ = -1, wakeWrite_ = -1;  // the pump's wake-up pipe

    mutable std::mutex mutex_;
    std::condition_variable settled_;  // start() and finish(): answers and acks
    std::deque<Queued> queue_;
    std::unordered_map<int, InFlight> inFlight_;
    std::unordered_set<int> earlyAcks_;  // acknowledged before registered
    std::size_t inFlightSamples_ = 0;
    std::size_t inFlightBytes_ = 0;
    std::size_t handing_ = 0;  // taken from the queue, not yet registered
    uint64_t nextNumber_ = 1;
    PublishCounts counts_;
    bool connected_ = false;
    bool everConnected_ = false;
    bool answered_ = false;   // the broker answered a connect (either way)
    int refusal_ = 0;         // the broker's CONNACK refusal, 0 if none
    int failedAttempts_ = 0;  // connections that failed before an answer
    std::string lastError_;   // the last error libmosquitto logged
    uint64_t generation_ = 0;  // connections made so far
    uint64_t droppedReported_ = 0;
    int settleWaiters_ = 0;  // start() or finish() waiting on settled_
    bool pumpWaitsForSamples_ = false;  // publish() wakes it
    bool wakePending_ = false;          // the pipe holds a byte not yet read
    bool socketOpen_ = false;           // pump only
    std::chrono::steady_clock::time_point retryAt_;  // pump only
    std::chrono::steady_clock::duration retryDelay_{};
    // finish(): the final status to publish, then its mid once handed over
    std::optional<std::string> finalStatus_;
    int finalMid_ = -1;
    bool finalHandled_ = false;    // taken by the pump
    bool finalPublished_ = false;  // handed to libmosquitto (or failed: mid -1)
    bool stop_ = false;  // disconnect and end the pump
    bool finished_ = false;
    std::vector<std::string> notices_;
};

}  // namespace tarvelo::publish
