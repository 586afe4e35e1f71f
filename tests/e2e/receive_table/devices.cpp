#include "e2e/receive_table/devices.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace receive_table::detail {

using namespace std::chrono_literals;

void Device::Run() {
    std::string pending;  // the rest of a record begun
    long pending_time = 0;
    while (!stop_) {
        Take(read_per_tick_);
        std::string extra;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            extra = std::exchange(extra_, {});
        }
        while (!extra.empty() && !broken_ && !stop_) {
            const long n = Put(extra);
            if (n < 0) broken_ = true;
            if (n > 0) extra.erase(0, static_cast<std::size_t>(n));
            if (n == 0) std::this_thread::sleep_for(1ms);
        }
        if (stream_ >= 0 && !broken_ && pending.empty()) {
            std::size_t want = static_cast<std::size_t>(per_tick_);
            if (burst_ > 0) want = std::max<std::size_t>(want, std::min<std::size_t>(burst_, 65536) / kRecord);
            std::string batch;
            const std::uint32_t first = seq_;
            std::vector<long> times;
            for (std::size_t i = 0; i < want; ++i) {
                times.push_back(NowMsOfDay());
                batch += Record(stream_, seq_++, times.back());
            }
            burst_ = burst_ > batch.size() ? burst_ - batch.size() : 0;
            if (Whole()) {
                for (std::size_t i = 0; i < want && !broken_; ++i) {
                    if (Put(batch.substr(i * kRecord, kRecord)) < 0) broken_ = true;
                    written_ += kRecord;
                    ++complete_;
                    last_written_ = NowMsOfDay();
                    Logged(first + static_cast<std::uint32_t>(i), times[i], last_written_);
                }
            } else {
                pending = std::move(batch);
                pending_time = NowMsOfDay();
                // Records not begun are made again later, with the time
                // they are then written.
                const std::size_t started = Write(pending, pending_time);
                const long put = NowMsOfDay();
                const std::size_t begun = (started + kRecord - 1) / kRecord;
                for (std::size_t i = 0; i < begun; ++i)
                    Logged(first + static_cast<std::uint32_t>(i), times[i], put);
                const std::size_t unstarted = (pending.size() - started) / kRecord;
                seq_ -= static_cast<std::uint32_t>(unstarted);
                burst_ += unstarted * kRecord;
                pending.resize(pending.size() - unstarted * kRecord);
                pending.erase(0, started);
            }
        } else if (!pending.empty() && !broken_) {
            const std::size_t n = Write(pending, pending_time);
            pending.erase(0, n);
        }
        std::this_thread::sleep_for(5ms);
    }
}

// Writes the front of Bytes (whole records, the first perhaps begun
// before, at Time); counts the records finished. Returns the bytes
// written.
std::size_t Device::Write(const std::string& Bytes, long Time) {
    const long n = Put(Bytes);
    if (n < 0) {
        broken_ = true;
        return 0;
    }
    const std::size_t done = static_cast<std::size_t>(n);
    written_ += done;
    // Each record ends with its separator.
    for (std::size_t i = 0; i < done; ++i)
        if (StreamOf(Bytes[i]) == stream_ && Bytes[i] == kAlphabets[stream_].separator) {
            ++complete_;
            last_written_ = Time;
        }
    return done;
}

PtyDevice::PtyDevice(int Com) {
    pty.MapAsCom(Com);
    ::fcntl(pty.MasterFd(), F_SETFL, ::fcntl(pty.MasterFd(), F_GETFL) | O_NONBLOCK);
}

long PtyDevice::Put(const std::string& Bytes) {
    const ssize_t n = ::write(pty.MasterFd(), Bytes.data(), Bytes.size());
    return n < 0 ? (errno == EAGAIN || errno == EIO ? 0 : -1) : n;
}

void PtyDevice::Take(std::size_t Max) {
    char buf[4096];
    for (std::size_t got = 0; got < Max;) {
        const ssize_t n = ::read(pty.MasterFd(), buf, std::min(sizeof buf, Max - got));
        if (n <= 0) return;
        got += static_cast<std::size_t>(n);
    }
}

SocketDevice::SocketDevice(int Fd, bool Datagrams, std::uint16_t To) : fd_(Fd), datagrams_(Datagrams), to_(To) {
    ::fcntl(fd_.fd, F_SETFL, ::fcntl(fd_.fd, F_GETFL) | O_NONBLOCK);
}

void Device::StopOdd() {
    const bool running = thread_.joinable();
    Stop();
    if (!running || stream_ < 0 || broken_ || BytesWritten() % 2 != 0) return;
    const std::string one(1, kAlphabets[stream_].digits[0]);
    for (int i = 0; i < 100 && Put(one) == 0; ++i) std::this_thread::sleep_for(1ms);
}

void SocketDevice::Leave() {
    StopOdd();
    fd_ = test_support::Fd();
}

long SocketDevice::Put(const std::string& Bytes) {
    ssize_t n;
    if (datagrams_) {
        const sockaddr_in a = test_support::LoopbackAddress(to_);
        n = ::sendto(fd_.fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&a),
                     sizeof a);
        // Nobody listens there now (the port closed): what is sent is lost.
        if (n < 0 && (errno == ECONNREFUSED || errno == EAGAIN)) return static_cast<long>(Bytes.size());
    } else {
        n = ::send(fd_.fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EAGAIN) return 0;
    }
    return n < 0 ? -1 : n;
}

void SocketDevice::Take(std::size_t Max) {
    char buf[4096];
    for (std::size_t got = 0; got < Max;) {
        const ssize_t n = ::recv(fd_.fd, buf, std::min(sizeof buf, Max - got), 0);
        if (n <= 0) return;
        got += static_cast<std::size_t>(n);
    }
}

}  // namespace receive_table::detail
