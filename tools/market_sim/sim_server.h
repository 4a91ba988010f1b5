// The HTTP server of the marketplace imitation: every host of the program
// (login, member, logistics, main web, maker's service) on one 127.0.0.1
// port, over the state of SimState.
//
// Thread safety: Start and Stop are called by the owner's thread; requests
// are served on the server's own worker threads.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "sim_state.h"

namespace httplib {
class Server;
}

namespace autodeliver::sim {

struct ServerOptions {
  int pageSize = 15;
  bool verbose = false;  // one line per request on stderr
};

class SimServer {
 public:
  SimServer(SimState& state, ServerOptions options);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Binds 127.0.0.1:`port` (0 picks a free port) and serves on a thread of
  // its own. False when the port cannot be bound.
  bool Start(int port);
  // The bound port, 0 before Start.
  int port() const { return port_; }
  // Stops serving and joins the thread. Safe to call twice.
  void Stop();
  // Blocks until the server has stopped (for the program's main thread).
  void Wait();

 private:
  void Routes();

  SimState& state_;
  ServerOptions options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace autodeliver::sim
