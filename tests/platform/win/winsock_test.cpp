#include "platform/win/winsock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/win/message_window.h"
#include "support/loopback.h"
#include "support/qt_app.h"

// Inside the namespace, the calls below are the layer's, not the system's.
namespace win {
namespace {

constexpr UINT kMsg = WM_USER + 77;

struct Note {
    SOCKET socket;
    unsigned event;
    unsigned error;
};

// A hidden window that records the socket notifications it gets.
class Recorder {
public:
    Recorder() {
        wnd = AllocateHWnd(
            [this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
                if (msg != kMsg) return 0;
                notes.push_back({w, WSAGETSELECTEVENT(l), WSAGETSELECTERROR(l)});
                if (OnNote) OnNote(notes.back());
                return 0;
            },
            "winsock_test");
    }
    ~Recorder() { DeallocateHWnd(wnd); }

    int Count(SOCKET s, unsigned event) const {
        int n = 0;
        for (const auto& note : notes)
            if (note.socket == s && note.event == event) ++n;
        return n;
    }
    const Note* Last(SOCKET s, unsigned event) const {
        for (auto it = notes.rbegin(); it != notes.rend(); ++it)
            if (it->socket == s && it->event == event) return &*it;
        return nullptr;
    }

    HWND wnd = 0;
    std::vector<Note> notes;
    std::function<void(const Note&)> OnNote;  // called as each note comes
};

// The loop until done(), within a generous bound that only keeps a broken
// case from hanging the run.
bool PumpUntil(const std::function<bool()>& done, int boundMs = 5000) {
    return test_support::PumpUntil(done, std::chrono::milliseconds(boundMs));
}

// Lets queued notifications arrive, for checks that something did NOT come.
void Settle() { test_support::Pump(std::chrono::milliseconds(30)); }

sockaddr_in Loopback(std::uint16_t port) { return test_support::LoopbackAddress(port); }

std::uint16_t LocalPort(SOCKET s) { return test_support::SocketPort(s); }

const sockaddr* Sa(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }

class winsock_on_loopback : public ::testing::Test {
protected:
    void SetUp() override {
        test_support::EnsureQtApplication();
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0);
        EXPECT_EQ(data.wVersion, 0x0101);
    }
    void TearDown() override {
        for (SOCKET s : open) closesocket(s);
        WSACleanup();
    }
    SOCKET Track(SOCKET s) {
        EXPECT_NE(s, INVALID_SOCKET);
        open.push_back(s);
        return s;
    }
    void Close(SOCKET s) {
        closesocket(s);
        std::erase(open, s);
    }
    // A listening TCP socket on a port of the system's choice, watched by rec.
    SOCKET Listener(Recorder& rec, long events) {
        SOCKET l = Track(win::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in a = Loopback(0);
        EXPECT_EQ(bind(l, Sa(a), sizeof a), 0);
        EXPECT_EQ(WSAAsyncSelect(l, rec.wnd, kMsg, events), 0);
        EXPECT_EQ(listen(l, 5), 0);
        return l;
    }
    // A UDP socket on a port of the system's choice, watched by rec for reading.
    SOCKET WatchedUdp(Recorder& rec) {
        SOCKET u = Track(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        sockaddr_in a = Loopback(0);
        EXPECT_EQ(bind(u, Sa(a), sizeof a), 0);
        EXPECT_EQ(WSAAsyncSelect(u, rec.wnd, kMsg, FD_READ), 0);
        return u;
    }
    // A plain blocking client connected to port.
    SOCKET PlainClient(std::uint16_t port) {
        SOCKET c = Track(win::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in a = Loopback(port);
        EXPECT_EQ(connect(c, Sa(a), sizeof a), 0);
        return c;
    }
    std::vector<SOCKET> open;
};

TEST(winsock, sockets_need_startup_and_startups_are_counted) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    ASSERT_EQ(WSAStartup(0x0202, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0202);
    EXPECT_EQ(WSAStartup(0x0000, &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSACleanup(), 0);
    SOCKET s = win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    EXPECT_NE(s, INVALID_SOCKET) << "one start-up is still owed a clean-up";
    EXPECT_EQ(closesocket(s), 0);
    EXPECT_EQ(WSACleanup(), 0);

    EXPECT_EQ(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST_F(winsock_on_loopback, failing_calls_report_winsock_errors) {
    SOCKET a = Track(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    SOCKET b = Track(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in any = Loopback(0);
    ASSERT_EQ(bind(a, Sa(any), sizeof any), 0);
    sockaddr_in same = Loopback(LocalPort(a));
    EXPECT_EQ(bind(b, Sa(same), sizeof same), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);

    sockaddr_in foreign = Loopback(0);
    foreign.sin_addr.s_addr = inet_addr("192.0.2.1");  // not an address of this machine
    SOCKET c = Track(win::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    EXPECT_EQ(bind(c, Sa(foreign), sizeof foreign), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);

    char byte = 0;
    EXPECT_EQ(send(c, &byte, 1, 0), SOCKET_ERROR) << "not connected; and no SIGPIPE either";
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(recv(static_cast<SOCKET>(100000), &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(closesocket(INVALID_SOCKET), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

    // Linux doubles the buffer sizes it reports; never less than asked.
    int size = 32768;
    ASSERT_EQ(setsockopt(a, SOL_SOCKET, SO_SNDBUF, &size, sizeof size), 0);
    int readBack = 0;
    int len = sizeof readBack;
    ASSERT_EQ(getsockopt(a, SOL_SOCKET, SO_SNDBUF, &readBack, &len), 0);
    EXPECT_EQ(len, 4);
    EXPECT_GE(readBack, size);
}

TEST_F(winsock_on_loopback, udp_read_is_posted_once_until_the_data_is_read) {
    Recorder rec;
    SOCKET u = WatchedUdp(rec);
    SOCKET peer = Track(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in to = Loopback(LocalPort(u));
    ASSERT_EQ(sendto(peer, "one", 3, 0, Sa(to), sizeof to), 3);
    ASSERT_EQ(sendto(peer, "two!", 4, 0, Sa(to), sizeof to), 4);

    ASSERT_TRUE(PumpUntil([&] { return rec.Count(u, FD_READ) == 1; }));
    Settle();
    EXPECT_EQ(rec.Count(u, FD_READ), 1) << "no second FD_READ before the first is consumed";

    char buf[16];
    sockaddr_in from{};
    int fromLen = sizeof from;
    ASSERT_EQ(recvfrom(u, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen), 3);
    EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ntohs(from.sin_port), LocalPort(peer));
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(u, FD_READ) == 2; })) << "the second datagram is still there";
    ASSERT_EQ(recv(u, buf, sizeof buf, 0), 4);
    Settle();
    EXPECT_EQ(rec.Count(u, FD_READ), 2);
    // Nothing is pending now: a read reports "would block".
    EXPECT_EQ(recv(u, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(winsock_on_loopback, datagram_reads_tell_each_drop_once_with_the_next_datagram_or_when_nothing_is_left) {
    Recorder rec;
    SOCKET u = WatchedUdp(rec);
    const int small = 2048;  // room for a few datagrams only
    ASSERT_EQ(setsockopt(u, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    SOCKET peer = Track(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    const sockaddr_in to = Loopback(LocalPort(u));
    long sent = 0, received = 0, told = 0;
    // The system may hand a datagram to the socket a moment after sendto
    // returns: reads wait until it has queued or dropped each one sent.
    using test_support::QueueOf;
    std::uint32_t share = 0;  // the queue memory one datagram takes
    auto handedOver = [&](test_support::DatagramQueue before, long count) {
        return test_support::WaitForDatagrams(u, before, share, count);
    };
    auto send = [&](const char* text) {
        ASSERT_EQ(sendto(peer, text, 1, 0, Sa(to), sizeof to), 1);
        ++sent;
    };
    struct Read {
        char text;  // 0: nothing was waiting
        std::uint32_t dropped;
    };
    auto read = [&]() -> Read {
        char buf[4];
        sockaddr_in from{};
        int fromLen = sizeof from;
        DatagramInfo info;
        const int n = RecvDatagram(u, buf, sizeof buf, reinterpret_cast<sockaddr*>(&from), &fromLen, &info);
        told += info.dropped;
        if (n < 0) {
            EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
            return {0, info.dropped};
        }
        EXPECT_EQ(n, 1);
        EXPECT_EQ(info.length, 1);
        ++received;
        return {buf[0], info.dropped};
    };

    // The share of one datagram, from one alone in the queue.
    const auto empty = QueueOf(u);
    send("m");
    share = test_support::WaitForOneDatagram(u, empty);
    ASSERT_GT(share, 0u);
    ASSERT_EQ(read().text, 'm');
    ASSERT_EQ(read().text, 0);
    told = received = sent = 0;

    // A burst far beyond the room: every drop comes after the datagrams
    // kept, so none of them tells one; the read that finds nothing left
    // tells them all.
    const auto start = QueueOf(u);
    for (int i = 0; i < 500; ++i) send("a");
    ASSERT_TRUE(handedOver(start, 500));
    Read r = read();
    for (int guard = 0; r.text != 0 && guard < 600; ++guard) {
        EXPECT_EQ(r.dropped, 0u);
        r = read();
    }
    EXPECT_GT(received, 0);
    EXPECT_GT(r.dropped, 0u);
    EXPECT_EQ(received + told, sent);
    EXPECT_EQ(read().dropped, 0u) << "told once";

    // Another burst, and each read makes room for a datagram "z" sent
    // after it: the first "z" that gets in tells the drops before it.
    told = received = sent = 0;
    const auto drained = QueueOf(u);
    for (int i = 0; i < 500; ++i) send("b");
    ASSERT_TRUE(handedOver(drained, 500));
    bool z_seen = false;
    for (int guard = 0; !z_seen && guard < 600; ++guard) {
        r = read();
        ASSERT_NE(r.text, 0) << "a datagram z always follows";
        if (r.text == 'z') {
            EXPECT_GT(r.dropped, 0u);
            z_seen = true;
        } else {
            EXPECT_EQ(r.dropped, 0u);
            const auto before = QueueOf(u);
            send("z");
            ASSERT_TRUE(handedOver(before, 1));
        }
    }
    ASSERT_TRUE(z_seen);
    while (read().text != 0) {
    }
    EXPECT_EQ(received + told, sent);
}

TEST_F(winsock_on_loopback, accepted_sockets_inherit_notifications_and_closes_carry_their_error) {
    Recorder rec;
    SOCKET l = Listener(rec, FD_READ | FD_ACCEPT | FD_CLOSE);
    SOCKET graceful = PlainClient(LocalPort(l));
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(l, FD_ACCEPT) == 1; }));
    SOCKET a = Track(accept(l, nullptr, nullptr));
    ASSERT_NE(a, INVALID_SOCKET);

    ASSERT_EQ(send(graceful, "hello", 5, 0), 5);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(a, FD_READ) == 1; }));
    char buf[8];
    ASSERT_EQ(recv(a, buf, 2, 0), 2);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(a, FD_READ) == 2; })) << "re-armed while bytes remain";
    ASSERT_EQ(recv(a, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "llo");
    Close(graceful);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(a, FD_CLOSE) == 1; }));
    EXPECT_EQ(rec.Last(a, FD_CLOSE)->error, 0u) << "a graceful close";
    Settle();
    EXPECT_EQ(rec.Count(a, FD_CLOSE), 1);
    EXPECT_EQ(rec.Count(a, FD_READ), 2);

    // A peer that aborts its connection (linger 0) resets it.
    SOCKET rude = PlainClient(LocalPort(l));
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(l, FD_ACCEPT) == 2; }));
    SOCKET b = Track(accept(l, nullptr, nullptr));
    linger abort{1, 0};
    ASSERT_EQ(setsockopt(rude, SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    Close(rude);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(b, FD_CLOSE) == 1; }));
    EXPECT_EQ(rec.Last(b, FD_CLOSE)->error, static_cast<unsigned>(WSAECONNRESET));

    // Sending to the reset connection fails with a code, not with SIGPIPE.
    EXPECT_EQ(send(b, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(send(b, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(winsock_on_loopback, connect_outcomes_come_as_fd_connect) {
    Recorder rec;
    // A port that nobody listens on: a listener's port, freed again.
    SOCKET probe = Track(win::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in any = Loopback(0);
    ASSERT_EQ(bind(probe, Sa(any), sizeof any), 0);
    std::uint16_t closedPort = LocalPort(probe);
    Close(probe);

    SOCKET refused = Track(win::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(WSAAsyncSelect(refused, rec.wnd, kMsg, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
    sockaddr_in to = Loopback(closedPort);
    EXPECT_EQ(connect(refused, Sa(to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(refused, FD_CONNECT) == 1; }));
    EXPECT_EQ(rec.Last(refused, FD_CONNECT)->error, static_cast<unsigned>(WSAECONNREFUSED));
    Settle();
    EXPECT_EQ(rec.Count(refused, FD_CLOSE), 0) << "a refused connect is no close";
    EXPECT_EQ(rec.Count(refused, FD_WRITE), 0);
    EXPECT_EQ(rec.Count(refused, FD_READ), 0);

    Recorder server;
    SOCKET l = Listener(server, FD_ACCEPT);
    SOCKET ok = Track(win::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(WSAAsyncSelect(ok, rec.wnd, kMsg, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
    Settle();
    EXPECT_EQ(rec.Count(ok, FD_CLOSE), 0) << "an idle socket is not a closed connection";
    to = Loopback(LocalPort(l));
    EXPECT_EQ(connect(ok, Sa(to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(ok, FD_WRITE) == 1; }));
    ASSERT_EQ(rec.Count(ok, FD_CONNECT), 1);
    EXPECT_EQ(rec.Last(ok, FD_CONNECT)->error, 0u);
    Settle();
    EXPECT_EQ(rec.Count(ok, FD_WRITE), 1) << "FD_WRITE once until a send would block";
}

TEST_F(winsock_on_loopback, a_send_that_would_block_owes_fd_write_when_there_is_room) {
    Recorder rec;
    SOCKET l = Listener(rec, FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE);
    SOCKET reader = PlainClient(LocalPort(l));
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(l, FD_ACCEPT) == 1; }));
    SOCKET a = Track(accept(l, nullptr, nullptr));
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(a, FD_WRITE) == 1; })) << "a new connection can send";

    std::vector<char> chunk(65536, 'z');
    long total = 0;
    int n = 0;
    for (int i = 0; i < 10000 && (n = send(a, chunk.data(), static_cast<int>(chunk.size()), 0)) > 0; ++i) total += n;
    ASSERT_EQ(n, SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    Settle();
    EXPECT_EQ(rec.Count(a, FD_WRITE), 1) << "no room yet";

    long drained = 0;
    while (drained < total) {
        int got = recv(reader, chunk.data(), static_cast<int>(chunk.size()), 0);
        ASSERT_GT(got, 0);
        drained += got;
    }
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(a, FD_WRITE) == 2; }));
}

TEST_F(winsock_on_loopback, notes_queued_for_a_closed_socket_never_name_a_newer_one) {
    Recorder rec;
    SOCKET l = Listener(rec, FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE);
    // The first client has come and gone before it is accepted, so once it
    // is, a close and a write note for it are queued at the same time; the
    // second waits quietly to be accepted.
    SOCKET gone = PlainClient(LocalPort(l));
    Close(gone);
    SOCKET quiet = PlainClient(LocalPort(l));
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(l, FD_ACCEPT) >= 1; }));
    SOCKET first = Track(accept(l, nullptr, nullptr));
    ASSERT_NE(first, INVALID_SOCKET);

    // At the first note for it, the first connection is closed and the next
    // one taken: the note still queued must not come as the newcomer's.
    SOCKET next = INVALID_SOCKET;
    rec.OnNote = [&](const Note& note) {
        if (note.socket != first || next != INVALID_SOCKET) return;
        Close(first);
        next = Track(accept(l, nullptr, nullptr));
    };
    ASSERT_TRUE(PumpUntil([&] { return next != INVALID_SOCKET; }));
    EXPECT_NE(next, first) << "a handle is never given out twice";
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(next, FD_WRITE) == 1; }));
    Settle();
    EXPECT_EQ(rec.Count(next, FD_CLOSE), 0) << "the newcomer is still connected";
    EXPECT_EQ(rec.Count(next, FD_READ), 0) << "nothing was sent to it";
    EXPECT_EQ(rec.Count(next, FD_WRITE), 1);
    Close(quiet);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(next, FD_CLOSE) == 1; })) << "its own close still comes";
}

TEST_F(winsock_on_loopback, a_closed_socket_is_no_longer_watched) {
    Recorder rec;
    SOCKET u = WatchedUdp(rec);
    SOCKET peer = Track(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in to = Loopback(LocalPort(u));
    Close(u);
    // The same descriptor number, reused for a plain socket, must not report to rec.
    SOCKET again = Track(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    ASSERT_EQ(bind(again, Sa(to), sizeof to), 0);
    ASSERT_EQ(sendto(peer, "x", 1, 0, Sa(to), sizeof to), 1);
    Settle();
    EXPECT_TRUE(rec.notes.empty());

    // Events 0 stops the notifications too.
    ASSERT_EQ(WSAAsyncSelect(again, rec.wnd, kMsg, FD_READ), 0);
    ASSERT_EQ(WSAAsyncSelect(again, rec.wnd, kMsg, 0), 0);
    ASSERT_EQ(sendto(peer, "y", 1, 0, Sa(to), sizeof to), 1);
    Settle();
    EXPECT_TRUE(rec.notes.empty());
}

// A notification that cannot be posted (here: its window was freed while the
// socket was still watched) is reported through the loop's error handler,
// once: the socket's owner would otherwise wait for it for ever without a
// word.
TEST_F(winsock_on_loopback, a_notification_that_cannot_be_posted_is_reported_once) {
    std::vector<std::string> reports;
    SetLoopErrorHandler([&](std::exception_ptr e, bool) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            reports.push_back(x.what());
        }
    });
    struct HandlerReset {
        ~HandlerReset() { SetLoopErrorHandler(nullptr); }
    } reset;

    HWND gone = AllocateHWnd([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "winsock_test gone");
    SOCKET u = Track(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in a = Loopback(0);
    ASSERT_EQ(bind(u, Sa(a), sizeof a), 0);
    ASSERT_EQ(WSAAsyncSelect(u, gone, kMsg, FD_READ), 0);
    DeallocateHWnd(gone);
    SOCKET peer = Track(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    const sockaddr_in to = Loopback(LocalPort(u));
    ASSERT_EQ(sendto(peer, "x", 1, 0, Sa(to), sizeof to), 1);
    ASSERT_TRUE(PumpUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports[0], "Socket notification FD_READ lost: the window it goes to is gone");
    ASSERT_EQ(sendto(peer, "y", 1, 0, Sa(to), sizeof to), 1);
    Settle();
    EXPECT_EQ(reports.size(), 1u) << "told once, not with every datagram";
}

}  // namespace
}  // namespace win
