#pragma once

// A real MQTT broker (Debian's mosquitto) on loopback for the publishing
// tests, a subscriber that collects what it publishes, and a child process.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.h"

struct mosquitto;
struct mosquitto_message;

namespace tarvelo::test {

// A program run as a child, its standard output and error caught in files.
class Process {
public:
    Process(const std::string& out, const std::string& err, const std::vector<std::string>& argv,
            const std::vector<std::string>& environment = {});
    ~Process();  // kills a child still running
    pid_t pid() const { return pid_; }
    bool running();
    int wait();  // the exit status, -1 when killed by a signal
    std::string out() const { return readFile(out_); }
    std::string err() const { return readFile(err_); }

private:
    std::string out_, err_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Certificates made with the openssl command for a TLS broker on
// 127.0.0.1: a CA, the broker's certificate signed by it, and an unrelated
// second CA that must not be trusted.
struct TestCertificates {
    std::string caFile, serverCert, serverKey, otherCaFile;
};
TestCertificates makeCertificates(const TempDir& dir);

struct BrokerConfig {
    const TestCertificates* tls = nullptr;  // a TLS listener with these
    // user -> password; anonymous clients are refused when any is given.
    std::map<std::string, std::string> users;
};

// mosquitto on 127.0.0.1 with persistence, so that a subscriber's session and
// its queued messages survive a restart. The port is found by binding a
// socket, which is held until just before the broker starts (mosquitto
// cannot take a bound socket); a start that fails because another program
// took the port in between is tried again on a new one. Restarts keep the port.
class Broker {
public:
    explicit Broker(const TempDir& dir, BrokerConfig config = {});
    ~Broker();
    bool start();  // true once it accepts connections
    void stop();   // SIGTERM: it saves its state and ends
    int port() const { return port_; }
    std::string url(const std::string& prefix) const;

private:
    bool startOnce();

    const TempDir& dir_;
    BrokerConfig config_;
    int port_ = 0;
    int heldSocket_ = -1;
    std::unique_ptr<Process> process_;
};

// A subscriber to PREFIX/# of several prefixes with a persistent session at
// QoS 1: it is sent what was published while it was away, the broker's
// restart included.
class Subscriber {
public:
    Subscriber(int port, const std::string& clientId, std::vector<std::string> filters);
    ~Subscriber();
    // Waits until the broker has confirmed the subscriptions.
    bool ready();

    struct Message {
        std::string topic;
        std::string payload;
        bool retained;
        std::chrono::system_clock::time_point received;
    };
    std::vector<Message> messages() const;
    // The messages of one topic, parsed.
    std::vector<nlohmann::json> json(const std::string& topic) const {
        return parsed(messages(), topic);
    }
    static std::vector<nlohmann::json> parsed(const std::vector<Message>& messages,
                                              const std::string& topic);
    // Waits until `done(messages)` holds or the limit passes; `done` is
    // called under the subscriber's lock and must not call it.
    bool waitFor(const std::function<bool(const std::vector<Message>&)>& done,
                 std::chrono::seconds limit = std::chrono::seconds(60));
    // Waits for a message on `topic` whose payload holds `text`.
    bool waitForText(const std::string& topic, const std::string& text,
                     std::chrono::seconds limit = std::chrono::seconds(60));

private:
    static void onConnect(mosquitto*, void*, int);
    static void onSubscribe(mosquitto*, void*, int, int, const int*);
    static void onMessage(mosquitto*, void*, const mosquitto_message*);

    mosquitto* client_ = nullptr;
    std::vector<std::string> filters_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
    int subscribed_ = 0;
};

// The samples of a PREFIX/samples topic with the doubles QoS 1 may bring
// removed (the first of each `n` kept), in the order they came.
std::vector<nlohmann::json> uniqueSamples(const std::vector<nlohmann::json>& samples);

}  // namespace tarvelo::test
