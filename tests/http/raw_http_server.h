// A tiny HTTP server on 127.0.0.1 for the request engine's tests. It records
// the exact bytes of every request it receives and answers each one as the
// test's script says: a reply sent whole, a reply followed by silence, or no
// reply at all. One request per connection; the connection closes after the
// reply. A reply may also stream bytes after its fixed part for as long as
// the test wants and the client reads (an endless body).
//
// Thread safety: the script runs on the server's connection threads, several
// at once; Requests() and WaitForRequests() may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace autodeliver::testing {

struct Reply {
  std::string bytes;           // sent as they are
  bool holdOpenAfter = false;  // then keep the connection open without a word
  // Called after `bytes` went out, again and again: fills the next piece to
  // send, or returns false when the reply is complete. Sending stops as well
  // when the client no longer takes bytes (it closed the connection).
  std::function<bool(std::string& next)> more = {};
};

// A complete answer: status line, Content-Length, Connection: close, the
// extra header lines (each ending in "\r\n") and the body.
Reply Answer(int status, std::string_view body, std::string_view extraHeaders = {});

class RawHttpServer {
 public:
  // `script` gets the raw bytes of one request (head and body).
  using Script = std::function<Reply(const std::string& request)>;

  // Listens on 127.0.0.1:`port`, a free port when 0. Throws
  // std::runtime_error when it cannot listen there.
  explicit RawHttpServer(Script script, int port = 0);
  ~RawHttpServer();  // closes every connection and joins every thread
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(std::string_view path) const;

  // The requests received so far, in arrival order. Bytes that never made a
  // whole request (a client that gave up, a TLS hello) are recorded when the
  // connection ends.
  std::vector<std::string> Requests() const;
  // Waits until at least `count` requests are recorded, at most `bound`.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds bound) const;
  // Reply bytes the kernel took for sending so far, every connection
  // together.
  std::uint64_t BytesSent() const { return bytesSent_.load(); }
  // Waits until every connection served so far has ended, at most `bound`.
  bool WaitForIdle(std::chrono::milliseconds bound) const;

 private:
  void AcceptLoop();
  void Serve(int fd);
  void Record(std::string request);

  Script script_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  std::thread acceptThread_;
  std::mutex threadsMutex_;
  std::vector<std::thread> connectionThreads_;  // guarded by threadsMutex_
  mutable std::mutex mutex_;
  mutable std::condition_variable recorded_;
  std::vector<std::string> requests_;  // guarded by mutex_
  int serving_ = 0;                    // guarded by mutex_
  std::atomic<std::uint64_t> bytesSent_{0};
};

}  // namespace autodeliver::testing
