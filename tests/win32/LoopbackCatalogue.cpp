#include "LoopbackCatalogue.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace lmtest::win32 {

LoopbackCatalogue::LoopbackCatalogue(int port, std::string text) : answer(std::move(text)) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sock == INVALID_SOCKET) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Exclusive: a port in use fails here instead of being shared.
    BOOL exclusive = TRUE;
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    if (bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(sock, 16) != 0) {
        closesocket(sock);
        return;
    }
    listener = sock;
    thread = std::thread([this] { Serve(); });
}

LoopbackCatalogue::~LoopbackCatalogue() {
    if (listener != kNoSocket) {
        // Closing the listening socket ends the blocked accept.
        closesocket(static_cast<SOCKET>(listener));
        if (thread.joinable()) thread.join();
    }
    WSACleanup();
}

std::string LoopbackCatalogue::LastRequest() const {
    std::lock_guard<std::mutex> guard(lock);
    return lastRequest;
}

void LoopbackCatalogue::Serve() {
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                 std::to_string(answer.size()) + "\r\nConnection: close\r\n\r\n" + answer;
    for (;;) {
        const SOCKET client = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        // The request ends with its blank line: GET carries no body.
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            request.append(buffer, static_cast<std::size_t>(got));
        }
        std::size_t sent = 0;
        while (sent < response.size()) {
            const int wrote = send(client, response.data() + sent, static_cast<int>(response.size() - sent), 0);
            if (wrote <= 0) break;
            sent += static_cast<std::size_t>(wrote);
        }
        shutdown(client, SD_SEND);
        closesocket(client);
        {
            std::lock_guard<std::mutex> guard(lock);
            lastRequest = request;
        }
        ++served;
    }
}

}  // namespace lmtest::win32
