#include "raw_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace autodeliver::testing {

namespace {

// The Content-Length of a request head, 0 when it has none.
std::size_t ContentLength(const std::string& head) {
  std::string lower;
  for (char c : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::size_t p = lower.find("\r\ncontent-length:");
  if (p == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoul(lower.c_str() + p + 17, nullptr, 10));
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

}  // namespace

Reply Answer(int status, std::string_view body, std::string_view extraHeaders) {
  Reply reply;
  reply.bytes = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
                std::string(extraHeaders) + "\r\n" + std::string(body);
  return reply;
}

RawHttpServer::RawHttpServer(Script script, int port) : script_(std::move(script)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t len = sizeof addr;
  // A fixed port is taken again by the next run even while the connections
  // of the last one linger.
  const int reuse = 1;
  if (listenFd_ >= 0 && port != 0) ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    if (listenFd_ >= 0) ::close(listenFd_);
    throw std::runtime_error("test server cannot listen");
  }
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

RawHttpServer::~RawHttpServer() {
  // Closing the write end wakes every poll that watches the read end.
  ::close(stopPipe_[1]);
  acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(threadsMutex_);
    threads.swap(connectionThreads_);
  }
  for (std::thread& t : threads) t.join();
  ::close(stopPipe_[0]);
  ::close(listenFd_);
}

std::string RawHttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> RawHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool RawHttpServer::WaitForRequests(std::size_t count, std::chrono::milliseconds bound) const {
  std::unique_lock lock(mutex_);
  return recorded_.wait_for(lock, bound, [&] { return requests_.size() >= count; });
}

bool RawHttpServer::WaitForIdle(std::chrono::milliseconds bound) const {
  std::unique_lock lock(mutex_);
  return recorded_.wait_for(lock, bound, [&] { return serving_ == 0; });
}

void RawHttpServer::Record(std::string request) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
  }
  recorded_.notify_all();
}

void RawHttpServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    {
      std::lock_guard lock(mutex_);
      ++serving_;
    }
    std::lock_guard lock(threadsMutex_);
    connectionThreads_.emplace_back([this, fd] {
      Serve(fd);
      {
        std::lock_guard lock(mutex_);
        --serving_;
      }
      recorded_.notify_all();
    });
  }
}

void RawHttpServer::Serve(int fd) {
  std::string received;
  bool whole = false;
  bool stopping = false;
  char buffer[4096];
  while (!whole) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    ::poll(fds, 2, -1);
    if (fds[1].revents) {
      stopping = true;
      break;
    }
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
    // Anything that does not open with a letter is no HTTP request (a TLS
    // hello, for one): keep it and hang up.
    if (!std::isalpha(static_cast<unsigned char>(received.front()))) break;
    std::size_t headEnd = received.find("\r\n\r\n");
    if (headEnd != std::string::npos) {
      whole = received.size() >= headEnd + 4 + ContentLength(received.substr(0, headEnd + 2));
    }
  }
  if (!whole) {
    if (!received.empty()) Record(received);
    ::close(fd);
    return;
  }
  Reply reply = script_(received);
  Record(std::move(received));
  // Sends `bytes` whole; false when the client stopped taking them or the
  // server stops.
  auto sendAll = [&](const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      pollfd fds[2] = {{fd, POLLOUT, 0}, {stopPipe_[0], POLLIN, 0}};
      ::poll(fds, 2, -1);
      if (fds[1].revents) {
        stopping = true;
        return false;
      }
      ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
      bytesSent_ += static_cast<std::uint64_t>(n);
    }
    return true;
  };
  bool open = sendAll(reply.bytes);
  if (reply.more) {
    std::string next;
    while (open && !stopping && reply.more(next)) open = sendAll(next);
  }
  if (reply.holdOpenAfter && !stopping) {
    // Silence until the client gives up or the server stops.
    for (;;) {
      pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
      ::poll(fds, 2, -1);
      if (fds[1].revents) break;
      if (::recv(fd, buffer, sizeof buffer, 0) <= 0) break;
    }
  }
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
}

}  // namespace autodeliver::testing
