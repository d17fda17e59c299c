#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace lmtest::win32 {

// An HTTP server on 127.0.0.1 that answers every request with one catalogue text (200,
// application/json) on a thread of its own, until destroyed.
class LoopbackCatalogue {
public:
    LoopbackCatalogue(int port, std::string answer);
    ~LoopbackCatalogue();
    LoopbackCatalogue(const LoopbackCatalogue&) = delete;
    LoopbackCatalogue& operator=(const LoopbackCatalogue&) = delete;

    // False when the port could not be had.
    bool listening() const { return listener != kNoSocket; }
    int requests() const { return served.load(); }
    // The head of the last request served: request line and headers.
    std::string LastRequest() const;

private:
    static constexpr unsigned long long kNoSocket = ~0ULL;
    void Serve();

    std::string answer;
    unsigned long long listener = kNoSocket;  // the SOCKET, kept as its integer type here
    std::atomic<int> served{0};
    mutable std::mutex lock;
    std::string lastRequest;  // guarded by lock
    std::thread thread;
};

}  // namespace lmtest::win32
