// The serial component closed by its owner: what it has read from the
// device goes to the owner first, and from then on nothing more is read,
// however long the owner's handler takes; whatever the handler does (reopen
// the port, fail), the port ends closed.
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

TEST(comm_port_close, what_was_read_is_handed_out_and_the_port_closes_whatever_the_handler_does) {
    test_support::EnsureQtApplication();
    test_support::PtyPair pty;
    pty.MapAsCom(61);
    vcl::TComponent owner(nullptr);
    auto* cp = vcl::Create<ports::TCommPortDriver>(&owner);
    cp->SetPort(static_cast<ports::TPortNumber>(61));
    std::vector<std::string> chunks;
    std::function<void()> during;  // run inside the handler, on the first chunk
    cp->OnReceiveData = [&](vcl::TComponent*, const void* data, std::uint32_t size) {
        chunks.emplace_back(static_cast<const char*>(data), size);
        if (chunks.size() == 1 && during) during();
    };
    // Reads bytes into the queue; ticks wait, so they stay there.
    auto play = [&](const std::string& bytes) {
        const std::uint64_t want = cp->DeviceBytesRead() + bytes.size();
        return pty.Write(bytes) == bytes.size() && PumpUntil([&] { return cp->DeviceBytesRead() == want; });
    };
    ASSERT_TRUE(cp->Connect());
    cp->PausePolling();

    // A handler that lets the loop run while the device sends more: only
    // what had been read comes.
    ASSERT_TRUE(play(std::string(300, 'a')));
    during = [&] {
        EXPECT_EQ(pty.Write(std::string(100, 'b')), 100u);
        test_support::Pump(100ms);
    };
    cp->DisconnectDelivered();
    EXPECT_FALSE(cp->Connected());
    EXPECT_EQ(chunks, std::vector<std::string>{std::string(300, 'a')});
    EXPECT_EQ(cp->DeviceBytesRead(), 300u);

    // A handler that opens the port again: that port's queue comes too, and
    // it is closed in turn.
    chunks.clear();
    ASSERT_TRUE(cp->Connect());
    ASSERT_TRUE(play("cc"));
    during = [&] {
        cp->Disconnect();
        ASSERT_TRUE(cp->Connect());
        ASSERT_TRUE(play("d"));
    };
    cp->DisconnectDelivered();
    EXPECT_FALSE(cp->Connected());
    EXPECT_EQ(chunks, (std::vector<std::string>{"cc", "d"}));

    // A handler that fails: the port is closed all the same.
    chunks.clear();
    ASSERT_TRUE(cp->Connect());
    ASSERT_TRUE(play("e"));
    during = [] { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(cp->DisconnectDelivered(), std::runtime_error);
    EXPECT_FALSE(cp->Connected());
}

}  // namespace
