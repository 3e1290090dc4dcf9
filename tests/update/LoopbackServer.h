#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A small HTTP(S) server on 127.0.0.1 for the update check's tests. It answers connections
// one at a time from its own thread, records every request as received, and stops when it is
// destroyed.
namespace tintavo::test {

class LoopbackServer {
public:
    // Gives the whole raw answer for a raw request; no value keeps the connection open
    // without answering until the server stops.
    using Handler = std::function<std::optional<std::string>(const std::string& request)>;

    // Plain HTTP, or TLS with the given certificate chain and key files.
    explicit LoopbackServer(Handler handler, std::string certFile = {}, std::string keyFile = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    std::string base() const;
    std::vector<std::string> requests() const;

    // A whole answer with the given status line tail ("200 OK") and body.
    static std::string Reply(const std::string& status, const std::string& body,
                             const std::string& extraHeaders = {});

private:
    void Run();
    void Serve(int client);

    Handler handler_;
    bool tls_ = false;
    void* context_ = nullptr; // SSL_CTX
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A loopback port on which nothing listens.
int UnusedPort();

} // namespace tintavo::test
