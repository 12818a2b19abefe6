// A TCP relay that adds round-trip time, for the labs of Samba servers
// (scripts/smb-servers.sh --delay) on machines whose kernel has no netem,
// and cuts a connection at a request of its choice:
//
//   veskcfg-relay LISTEN_ADDRESS PORT TARGET_ADDRESS MILLISECONDS [CUT_FILE]
//
// Every connection made to LISTEN_ADDRESS:PORT is relayed to
// TARGET_ADDRESS:PORT, each byte held half the milliseconds on its way out
// and half on its way back, in order, however many are in flight: a link
// that is slow, not one that is narrow. Runs until it is killed.
//
// CUT_FILE, read as each connection is made, may say "before N": the
// connection is cut as the client's N-th request (an SMB message, after its
// 4-byte length) begins, so that the server never sees it; or "after N": the
// N-th request reaches the server and the connection is cut as its answer
// begins, so that the server has acted on it and the client never learns
// how. Each connection, once over, appends "REQUESTS requests, PIPES pipes"
// to CUT_FILE.log, with ", cut" when it was cut: how many requests it
// carried, and how many of them opened a file (on ipc$, a pipe: a lane of a
// walk that spread).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Where one connection is cut, if anywhere, and how far it got.
struct Cut {
    enum Kind { kNone, kBefore, kAfter } kind = kNone;
    unsigned long at = 0;           // the request, counted from 1
    unsigned long requests = 0;     // the client's requests seen so far
    unsigned long pipes = 0;        // of them, SMB2 CREATEs
    std::atomic<bool> armed{false};  // after: the next bytes of an answer cut it
    std::atomic<bool> done{false};

    static void read(const char* file, Cut& cut) {
        std::ifstream in(file ? file : "");
        std::string word;
        if (!(in >> word >> cut.at) || cut.at == 0) return;
        if (word == "before") cut.kind = kBefore;
        if (word == "after") cut.kind = kAfter;
    }
};

// One direction of a connection: a reader stamps what arrives, a writer
// sends each piece once its time has come. The client's direction counts
// its requests, for a cut.
class Direction {
public:
    Direction(int from, int to, Clock::duration delay, Cut& cut, bool fromClient)
        : from_(from), to_(to), delay_(delay), cut_(cut), fromClient_(fromClient) {}

    void run() {
        std::thread writer([this] { write(); });
        read();
        writer.join();
    }

private:
    struct Piece {
        Clock::time_point due;
        std::string bytes;  // empty: the sender is done
        bool cut = false;   // the connection ends here, both ways
    };

    void push(std::string bytes, bool cut = false) {
        std::lock_guard<std::mutex> lock(mutex_);
        pieces_.push_back({Clock::now() + delay_, std::move(bytes), cut});
        ready_.notify_one();
    }

    // How many of the count bytes in buffer go on before the cut, or all
    // of them (count) when none is due in them.
    size_t bytesBeforeCut(const char* buffer, size_t count) {
        for (size_t at = 0; at < count; ++at) {
            if (headerGot_ < 4) {
                header_[headerGot_++] = static_cast<unsigned char>(buffer[at]);
                if (headerGot_ < 4) continue;
                left_ = (size_t{header_[1]} << 16) | (size_t{header_[2]} << 8) | header_[3];
                smbGot_ = 0;
                ++cut_.requests;
                if (cut_.kind == Cut::kBefore && cut_.requests == cut_.at) return at >= 3 ? at - 3 : 0;
                if (left_ > 0) continue;
            } else {
                size_t take = std::min(left_, count - at);
                noteSmbHeader(buffer + at, take);
                at += take - 1;
                left_ -= take;
                if (left_ > 0) continue;
            }
            headerGot_ = 0;
            if (cut_.kind == Cut::kAfter && cut_.requests == cut_.at) {
                cut_.armed = true;
                return at + 1;
            }
        }
        return count;
    }

    void read() {
        char buffer[65536];
        for (;;) {
            ssize_t count = ::read(from_, buffer, sizeof buffer);
            if (count <= 0 || cut_.done) {
                push({});
                return;
            }
            size_t passed = static_cast<size_t>(count);
            bool cutNow = false;
            if (fromClient_ && !cut_.armed) {
                passed = bytesBeforeCut(buffer, passed);
                cutNow = cut_.kind == Cut::kBefore && passed < static_cast<size_t>(count);
            } else if (fromClient_) {
                passed = 0;  // nothing more reaches the server once the cut is set
            } else if (cut_.armed) {
                passed = 0;
                cutNow = true;  // the answer to the request cut after
            }
            if (passed > 0) push(std::string(buffer, passed));
            if (cutNow) {
                push({}, true);
                return;
            }
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
            if (piece.cut) {  // both ways at once: the readers see their end
                cut_.done = true;
                shutdown(to_, SHUT_RDWR);
                shutdown(from_, SHUT_RDWR);
                return;
            }
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

    // The start of a request's SMB2 header, up to its command: one that
    // opens a file is counted.
    void noteSmbHeader(const char* bytes, size_t count) {
        static const unsigned char kSmb2[4] = {0xFE, 'S', 'M', 'B'};
        const size_t wanted = sizeof smb_ - smbGot_;
        if (wanted == 0) return;
        const size_t taken = std::min(wanted, count);
        std::memcpy(smb_ + smbGot_, bytes, taken);
        smbGot_ += taken;
        const unsigned kCreate = 5;
        if (smbGot_ == sizeof smb_ && std::memcmp(smb_, kSmb2, 4) == 0 && (smb_[12] | smb_[13] << 8) == kCreate)
            ++cut_.pipes;
    }

    int from_, to_;
    Clock::duration delay_;
    Cut& cut_;
    bool fromClient_;
    unsigned char header_[4] = {};
    size_t headerGot_ = 0, left_ = 0;  // the request being read: its header, what is left of it
    unsigned char smb_[14] = {};
    size_t smbGot_ = 0;
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

void relay(int client, sockaddr_in target, Clock::duration halfDelay, const char* cutFile) {
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        close(client);
        if (server >= 0) close(server);
        return;
    }
    int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Cut cut;
    Cut::read(cutFile, cut);
    Direction out(client, server, halfDelay, cut, true), back(server, client, halfDelay, cut, false);
    std::thread backward([&] { back.run(); });
    out.run();
    backward.join();
    close(client);
    close(server);
    if (cutFile) {
        static std::mutex logged;
        std::lock_guard<std::mutex> lock(logged);
        std::ofstream(std::string(cutFile) + ".log", std::ios::app)
            << cut.requests << " requests, " << cut.pipes << " pipes" << (cut.done ? ", cut" : "") << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: veskcfg-relay LISTEN_ADDRESS PORT TARGET_ADDRESS MILLISECONDS [CUT_FILE]\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    int port = std::atoi(argv[2]);
    sockaddr_in listenAt = addressOf(argv[1], port), target = addressOf(argv[3], port);
    auto halfDelay = std::chrono::microseconds(std::atol(argv[4]) * 500);
    const char* cutFile = argc == 6 ? argv[5] : nullptr;
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
        std::thread(relay, client, target, halfDelay, cutFile).detach();
    }
}
