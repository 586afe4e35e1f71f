// The serial component's owner decides how much it can take: the port reads
// no more than that from its device, so a busy owner holds the device back
// instead of holding its bytes; and closing hands out what was read first,
// whatever the handler does meanwhile.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ports/comm_port_driver.h"
#include "support/pty.h"
#include "support/qt_app.h"

namespace {

using namespace std::chrono_literals;
using test_support::PumpUntil;

struct ClosingPort {
    test_support::PtyPair pty;
    vcl::TComponent owner{nullptr};
    ports::TCommPortDriver* cp = nullptr;
    std::vector<std::string> chunks;
    std::function<void()> during;  // run inside the handler, on the first chunk

    ClosingPort() {
        test_support::EnsureQtApplication();
        pty.MapAsCom(61);
        cp = vcl::Create<ports::TCommPortDriver>(&owner);
        cp->SetPort(static_cast<ports::TPortNumber>(61));
        cp->OnReceiveData = [this](vcl::TComponent*, const void* data, std::uint32_t size) {
            chunks.emplace_back(static_cast<const char*>(data), size);
            if (chunks.size() == 1 && during) during();
        };
    }
    // The device sends; the port reads it into its queue (ticks are paused,
    // so it stays there).
    bool Play(const std::string& bytes) {
        const std::uint64_t want = cp->DeviceBytesRead() + bytes.size();
        return pty.Write(bytes) == bytes.size() && PumpUntil([&] { return cp->DeviceBytesRead() == want; });
    }
    std::string All() const {
        std::string all;
        for (const std::string& c : chunks) all += c;
        return all;
    }
};

TEST(comm_port_close, what_was_read_is_handed_out_first_and_the_port_closes_whatever_the_handler_does) {
    ClosingPort p;
    ports::TCommPortDriver* cp = p.cp;
    ASSERT_TRUE(cp->Connect());
    cp->PausePolling();

    // A handler that lets the loop run while the device sends more, and
    // gives the port room again as an owner does for each chunk it takes:
    // only what had been read comes.
    ASSERT_TRUE(p.Play(std::string(300, 'a')));
    p.during = [&] {
        EXPECT_EQ(p.pty.Write(std::string(100, 'b')), 100u);
        cp->SetReceiveRoom(1000000);
        test_support::Pump(100ms);
    };
    cp->Disconnect();
    EXPECT_FALSE(cp->Connected());
    EXPECT_EQ(p.chunks, std::vector<std::string>{std::string(300, 'a')});
    EXPECT_EQ(cp->DeviceBytesRead(), 300u);

    // A handler that reopens the port has its way: the new port stays open.
    p.chunks.clear();
    ASSERT_TRUE(cp->Connect());
    ASSERT_TRUE(p.Play("cc"));
    p.during = [&] {
        cp->Disconnect();
        ASSERT_TRUE(cp->Connect());
    };
    cp->Disconnect();
    EXPECT_TRUE(cp->Connected());
    EXPECT_EQ(p.chunks, std::vector<std::string>{"cc"});
    cp->Disconnect();

    // A handler that fails: the port is closed all the same.
    p.chunks.clear();
    ASSERT_TRUE(cp->Connect());
    ASSERT_TRUE(p.Play("e"));
    p.during = [] { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(cp->Disconnect(), std::runtime_error);
    EXPECT_FALSE(cp->Connected());
}

TEST(comm_port_close, the_port_reads_no_more_than_its_owner_has_room_for_and_keeps_the_rest_with_the_device) {
    ClosingPort p;
    ports::TCommPortDriver* cp = p.cp;
    cp->SetPollingDelay(1);
    // An owner that keeps what it gets and has room for 1000 bytes in all.
    constexpr std::uint32_t kRoom = 1000;
    cp->SetReceiveRoom(kRoom);
    cp->OnReceiveData = [&](vcl::TComponent*, const void* data, std::uint32_t size) {
        p.chunks.emplace_back(static_cast<const char*>(data), size);
        cp->SetReceiveRoom(kRoom - static_cast<std::uint32_t>(p.All().size()));
    };
    ASSERT_TRUE(cp->Connect());
    std::string sent;
    for (int i = 0; i < 3000; ++i) sent.push_back(static_cast<char>('0' + i % 10));
    ASSERT_EQ(p.pty.Write(sent), sent.size());
    ASSERT_TRUE(PumpUntil([&] { return p.All().size() == kRoom; }));
    test_support::Pump(50ms);
    // Neither handed out nor read into the port's queue beyond the room: the
    // device holds the rest.
    EXPECT_EQ(p.All(), sent.substr(0, kRoom));
    EXPECT_EQ(cp->DeviceBytesRead(), kRoom);

    // Room again: the rest comes, in order; closing then hands out nothing twice.
    cp->OnReceiveData = [&](vcl::TComponent*, const void* data, std::uint32_t size) {
        p.chunks.emplace_back(static_cast<const char*>(data), size);
    };
    cp->SetReceiveRoom(0xFFFFFFFFu);
    ASSERT_TRUE(PumpUntil([&] { return p.All().size() == sent.size(); }));
    cp->Disconnect();
    EXPECT_EQ(p.All(), sent);
    EXPECT_EQ(cp->DeviceBytesRead(), sent.size());
}

}  // namespace
