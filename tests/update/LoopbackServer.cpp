#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tintavo::test {

namespace {

int ListenOnLoopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw std::runtime_error("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("bind");
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool Readable(int fd, const std::atomic<bool>& stop) {
    while (!stop.load()) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, 20);
        if (ready > 0) {
            return true;
        }
        if (ready < 0) {
            return false;
        }
    }
    return false;
}

} // namespace

LoopbackServer::LoopbackServer(Handler handler, std::string certFile, std::string keyFile)
    : handler_(std::move(handler)), tls_(!certFile.empty()) {
    if (tls_) {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        if (context == nullptr ||
            SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
            SSL_CTX_free(context);
            throw std::runtime_error("cannot load the test certificate");
        }
        context_ = context;
    }
    listener_ = ListenOnLoopback(port_);
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    stop_.store(true);
    thread_.join();
    close(listener_);
    SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

std::string LoopbackServer::base() const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> LoopbackServer::requests() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string LoopbackServer::Reply(const std::string& status, const std::string& body,
                                  const std::string& extraHeaders) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

void LoopbackServer::Run() {
    while (Readable(listener_, stop_)) {
        const int client = accept(listener_, nullptr, nullptr);
        if (client >= 0) {
            Serve(client);
            close(client);
        }
    }
}

void LoopbackServer::Serve(int client) {
    SSL* ssl = nullptr;
    if (tls_) {
        ssl = SSL_new(static_cast<SSL_CTX*>(context_));
        SSL_set_fd(ssl, client);
        // The handshake needs the client's bytes; wait for them without blocking the stop.
        if (!Readable(client, stop_) || SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            return;
        }
    }
    const auto receive = [&](char* buffer, int size) {
        const bool buffered = ssl != nullptr && SSL_pending(ssl) > 0;
        if (!buffered && !Readable(client, stop_)) {
            return -1;
        }
        return ssl != nullptr
                   ? SSL_read(ssl, buffer, size)
                   : static_cast<int>(recv(client, buffer, static_cast<std::size_t>(size), 0));
    };
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const int got = receive(buffer, sizeof(buffer));
        if (got <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(got));
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    const std::optional<std::string> answer = handler_(request);
    if (!answer) {
        while (Readable(client, stop_) && receive(buffer, sizeof(buffer)) > 0) {
        }
    } else {
        std::size_t sent = 0;
        while (sent < answer->size()) {
            const int n =
                ssl != nullptr
                    ? SSL_write(ssl, answer->data() + sent, static_cast<int>(answer->size() - sent))
                    : static_cast<int>(
                          send(client, answer->data() + sent, answer->size() - sent, MSG_NOSIGNAL));
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
    }
    if (ssl != nullptr) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
}

int UnusedPort() {
    int port = 0;
    close(ListenOnLoopback(port));
    return port;
}

} // namespace tintavo::test
