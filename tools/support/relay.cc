// A TCP relay that adds round-trip time, for the labs of Samba servers
// (scripts/smb-servers.sh --delay) on machines whose kernel has no netem:
//
//   veskcfg-relay LISTEN_ADDRESS PORT TARGET_ADDRESS MILLISECONDS
//
// Every connection made to LISTEN_ADDRESS:PORT is relayed to
// TARGET_ADDRESS:PORT, each byte held half the milliseconds on its way out
// and half on its way back, in order, however many are in flight: a link
// that is slow, not one that is narrow. Runs until it is killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// One direction of a connection: a reader stamps what arrives, a writer
// sends each piece once its time has come.
class Direction {
public:
    Direction(int from, int to, Clock::duration delay) : from_(from), to_(to), delay_(delay) {}

    void run() {
        std::thread writer([this] { write(); });
        read();
        writer.join();
    }

private:
    struct Piece {
        Clock::time_point due;
        std::string bytes;  // empty: the sender is done
    };

    void read() {
        char buffer[65536];
        for (;;) {
            ssize_t count = ::read(from_, buffer, sizeof buffer);
            std::lock_guard<std::mutex> lock(mutex_);
            pieces_.push_back({Clock::now() + delay_, count > 0 ? std::string(buffer, count) : std::string()});
            ready_.notify_one();
            if (count <= 0) return;
        }
    }

    void write() {
        for (;;) {
            Piece piece;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !pieces_.empty(); });
                piece = std::move(pieces_.front());
                pieces_.pop_front();
            }
            std::this_thread::sleep_until(piece.due);
            if (piece.bytes.empty()) {
                shutdown(to_, SHUT_WR);
                return;
            }
            for (size_t sent = 0; sent < piece.bytes.size();) {
                ssize_t count = ::write(to_, piece.bytes.data() + sent, piece.bytes.size() - sent);
                if (count <= 0) {
                    shutdown(from_, SHUT_RD);
                    return;
                }
                sent += static_cast<size_t>(count);
            }
        }
    }

    int from_, to_;
    Clock::duration delay_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Piece> pieces_;
};

sockaddr_in addressOf(const char* ip, int port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, ip, &address.sin_addr) != 1) {
        std::fprintf(stderr, "veskcfg-relay: %s is not an IPv4 address\n", ip);
        std::exit(2);
    }
    return address;
}

void relay(int client, sockaddr_in target, Clock::duration halfDelay) {
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        close(client);
        if (server >= 0) close(server);
        return;
    }
    int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Direction out(client, server, halfDelay), back(server, client, halfDelay);
    std::thread backward([&] { back.run(); });
    out.run();
    backward.join();
    close(client);
    close(server);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: veskcfg-relay LISTEN_ADDRESS PORT TARGET_ADDRESS MILLISECONDS\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    int port = std::atoi(argv[2]);
    sockaddr_in listenAt = addressOf(argv[1], port), target = addressOf(argv[3], port);
    auto halfDelay = std::chrono::microseconds(std::atol(argv[4]) * 500);
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&listenAt), sizeof listenAt) != 0 ||
        listen(listener, 64) != 0) {
        std::perror("veskcfg-relay");
        return 1;
    }
    for (;;) {
        int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::thread(relay, client, target, halfDelay).detach();
    }
}
