// Receive throughput of the serial component: bytes a pseudo-terminal
// device sends, as delivered through OnReceiveData, at the polling delays
// the main window uses (multimedia timer, 1 MB queues).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "platform/win/message_window.h"
#include "ports/comm_port_driver.h"
#include "support/pty.h"
#include "support/qt_app.h"

namespace {

constexpr std::size_t kBlock = 1 << 20;

void BM_CommPortReceive(benchmark::State& state) {
    test_support::EnsureQtApplication();
    test_support::PtyPair pty;
    pty.MapAsCom(61);
    vcl::TComponent owner(nullptr);
    auto* cp = vcl::Create<ports::TCommPortDriver>(&owner);
    cp->SetPort(static_cast<ports::TPortNumber>(61));
    cp->SetInBufSize(1000000);
    cp->SetOutBufSize(1000000);
    cp->SetPollingDelay(static_cast<std::uint16_t>(state.range(0)));
    cp->SetUseMultimediaTimer(true);
    std::uint64_t received = 0;
    std::uint64_t events = 0;
    cp->OnReceiveData = [&](vcl::TComponent*, const void*, std::uint32_t size) {
        received += size;
        ++events;
    };
    if (!cp->Connect()) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    std::vector<std::uint8_t> block(kBlock);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);

    for (auto _ : state) {
        const std::uint64_t target = received + kBlock;
        std::size_t sent = 0;
        while (received < target) {
            if (sent < kBlock) sent += pty.WriteSome(block.data() + sent, kBlock - sent);
            win::ProcessMessages();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
    state.counters["bytes_per_event"] = events ? static_cast<double>(received) / static_cast<double>(events) : 0.0;
}

BENCHMARK(BM_CommPortReceive)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
