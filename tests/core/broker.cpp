#include "broker.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvelo::test {

namespace {

using namespace std::chrono_literals;

// The whole command through /bin/sh, for the openssl steps.
void shell(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

// A socket bound to a free port of 127.0.0.1, and the port.
int bindFreePort(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot bind a port on 127.0.0.1");
    port = ntohs(address.sin_port);
    return fd;
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

Process::Process(const std::string& out, const std::string& err,
                 const std::vector<std::string>& argv, const std::vector<std::string>& environment)
    : out_(out), err_(err) {
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    for (auto& argument : args)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> envPointers;
    for (auto& entry : env)
        envPointers.push_back(entry.data());
    envPointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), envPointers.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
    if (pid_ > 0 && running()) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

bool Process::running() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -pid_;  // reaped
        return false;
    }
    return done == 0;
}

int Process::wait() {
    if (pid_ > 0) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -pid_;
    }
    return status_;
}

TestCertificates makeCertificates(const TempDir& dir) {
    TestCertificates c;
    const std::string d = dir.path() + "/";
    c.caFile = d + "ca.crt";
    c.serverCert = d + "server.crt";
    c.serverKey = d + "server.key";
    c.otherCaFile = d + "other-ca.crt";
    const std::string ec = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    shell(ec + "-x509 -days 2 -subj /CN=tarvelo-test-ca -keyout " + d + "ca.key -out " + c.caFile);
    shell(ec + "-x509 -days 2 -subj /CN=tarvelo-other-ca -keyout " + d + "other-ca.key -out " +
          c.otherCaFile);
    shell(ec + "-subj /CN=127.0.0.1 -keyout " + c.serverKey + " -out " + d + "server.csr");
    writeFile(d + "server.ext", "subjectAltName=IP:127.0.0.1\n");
    shell("openssl x509 -req -days 2 -in " + d + "server.csr -CA " + c.caFile + " -CAkey " + d +
          "ca.key -CAcreateserial -extfile " + d + "server.ext -out " + c.serverCert);
    return c;
}

Broker::Broker(const TempDir& dir, BrokerConfig config) : dir_(dir), config_(std::move(config)) {}

Broker::~Broker() {
    stop();
    if (heldSocket_ >= 0)
        ::close(heldSocket_);
}

std::string Broker::url(const std::string& prefix) const {
    return std::string(config_.tls ? "mqtts" : "mqtt") + "://127.0.0.1:" + std::to_string(port_) +
           "/" + prefix;
}

bool Broker::start() {
    if (port_ != 0)
        return startOnce();  // a restart, on the port the clients know
    for (int attempt = 0; attempt < 5; ++attempt) {
        heldSocket_ = bindFreePort(port_);
        if (startOnce())
            return true;
    }
    return false;
}

bool Broker::startOnce() {
    const std::string conf = dir_.file("mosquitto.conf");
    std::string text = "listener " + std::to_string(port_) + " 127.0.0.1\n";
    text += "user root\npersistence true\npersistence_location " + dir_.path() + "/\n";
    text += "max_queued_messages 0\nautosave_interval 0\n";
    if (config_.tls) {
        text += "cafile " + config_.tls->caFile + "\ncertfile " + config_.tls->serverCert +
                "\nkeyfile " + config_.tls->serverKey + "\n";
    }
    if (config_.users.empty()) {
        text += "allow_anonymous true\n";
    } else {
        const std::string passwords = dir_.file("passwords");
        writeFile(passwords, "");
        for (const auto& [user, password] : config_.users)
            shell("mosquitto_passwd -b " + passwords + " " + user + " " + password);
        text += "allow_anonymous false\npassword_file " + passwords + "\n";
    }
    writeFile(conf, text);
    if (heldSocket_ >= 0) {
        ::close(heldSocket_);
        heldSocket_ = -1;
    }
    process_ = std::make_unique<Process>(dir_.file("broker.out"), dir_.file("broker.err"),
                                         std::vector<std::string>{"/usr/sbin/mosquitto", "-c", conf});
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
        if (!process_->running())
            return false;  // it could not listen, or refused its configuration
        if (accepts(port_))
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

void Broker::stop() {
    if (process_ && process_->running()) {
        ::kill(process_->pid(), SIGTERM);
        process_->wait();
    }
    process_.reset();
}

Subscriber::Subscriber(int port, const std::string& clientId, std::vector<std::string> filters)
    : filters_(std::move(filters)) {
    initLibrary();
    client_ = mosquitto_new(clientId.c_str(), false, this);
    mosquitto_connect_callback_set(client_, &Subscriber::onConnect);
    mosquitto_subscribe_callback_set(client_, &Subscriber::onSubscribe);
    mosquitto_message_callback_set(client_, &Subscriber::onMessage);
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect_async(client_, "127.0.0.1", port, 10);
    mosquitto_loop_start(client_);
}

Subscriber::~Subscriber() {
    // The loop thread ends by itself once disconnected (after its reconnect
    // delay when the broker is away). Forcing it would cancel the thread,
    // possibly while it holds one of libmosquitto's locks.
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

void Subscriber::onConnect(mosquitto* client, void* self, int rc) {
    if (rc != 0)
        return;
    for (const auto& filter : static_cast<Subscriber*>(self)->filters_)
        mosquitto_subscribe(client, nullptr, filter.c_str(), 1);
}

void Subscriber::onSubscribe(mosquitto*, void* self, int, int, const int*) {
    auto* subscriber = static_cast<Subscriber*>(self);
    std::lock_guard lock(subscriber->mutex_);
    ++subscriber->subscribed_;
    subscriber->changed_.notify_all();
}

void Subscriber::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* subscriber = static_cast<Subscriber*>(self);
    std::lock_guard lock(subscriber->mutex_);
    subscriber->messages_.push_back(
        Message{message->topic,
                std::string(static_cast<const char*>(message->payload),
                            static_cast<std::size_t>(message->payloadlen)),
                message->retain, std::chrono::system_clock::now()});
    subscriber->changed_.notify_all();
}

bool Subscriber::ready() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 30s,
                             [&] { return subscribed_ >= static_cast<int>(filters_.size()); });
}

std::vector<Subscriber::Message> Subscriber::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<nlohmann::json> Subscriber::parsed(const std::vector<Message>& messages,
                                               const std::string& topic) {
    std::vector<nlohmann::json> result;
    for (const auto& message : messages)
        if (message.topic == topic)
            result.push_back(nlohmann::json::parse(message.payload));
    return result;
}

bool Subscriber::waitFor(const std::function<bool(const std::vector<Message>&)>& done,
                         std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(messages_); });
}

bool Subscriber::waitForText(const std::string& topic, const std::string& text,
                             std::chrono::seconds limit) {
    return waitFor(
        [&](const std::vector<Message>& messages) {
            for (const auto& message : messages)
                if (message.topic == topic && message.payload.find(text) != std::string::npos)
                    return true;
            return false;
        },
        limit);
}

std::vector<nlohmann::json> uniqueSamples(const std::vector<nlohmann::json>& samples) {
    std::set<uint64_t> seen;
    std::vector<nlohmann::json> result;
    for (const auto& sample : samples)
        if (seen.insert(sample.at("n").get<uint64_t>()).second)
            result.push_back(sample);
    return result;
}

}  // namespace tarvelo::test
