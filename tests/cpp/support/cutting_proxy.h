// A loopback proxy between a client and a server, one connection at a time:
// it passes the server's bytes on until `cut` of them have gone on a
// connection, then closes that connection. It keeps the server's bytes of the
// last connection and where each reply began: the count of server bytes when
// the client spoke.
#ifndef RIZEZOVA_TESTS_SUPPORT_CUTTING_PROXY_H
#define RIZEZOVA_TESTS_SUPPORT_CUTTING_PROXY_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace testpeer {

class CuttingProxy {
 public:
  static constexpr size_t kNoCut = SIZE_MAX;

  explicit CuttingProxy(uint16_t server_port);
  ~CuttingProxy();
  CuttingProxy(const CuttingProxy&) = delete;
  CuttingProxy& operator=(const CuttingProxy&) = delete;

  uint16_t port() const { return port_; }
  // The cut for the connections accepted from now on.
  void set_cut(size_t cut);

  // What the last connection carried, once it has closed.
  struct Record {
    std::vector<uint8_t> server_bytes;  // as far as they were passed on
    std::vector<size_t> reply_starts;   // offsets into server_bytes
  };
  Record last();

 private:
  void run();
  void serve(int client);

  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t server_port_;
  uint16_t port_ = 0;
  std::mutex mu_;
  std::condition_variable idle_cv_;
  bool busy_ = false;
  size_t cut_ = kNoCut;
  Record last_;
  std::thread thread_;
};

}  // namespace testpeer

#endif
