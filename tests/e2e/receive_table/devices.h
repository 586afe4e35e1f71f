#pragma once
// The devices of the table: a pty playing a serial device, a socket playing
// an Ethernet peer. Each sends one stream's records at a steady pace and
// keeps a log of when it wrote each.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/receive_table/records.h"
#include "support/loopback.h"
#include "support/pty.h"

namespace receive_table::detail {

// A device that sends its records every 5 ms (at the pace of a busy serial
// line) and reads what the program sends it, fast or slowly. A device held
// back makes nothing new meanwhile, so that each record carries the time its
// first byte was written; its log tells when each write returned.
class Device {
public:
    virtual ~Device() { Stop(); }
    void Start(int Stream, int RecordsPerTick, std::size_t ReadPerTick) {
        stream_ = Stream;
        per_tick_ = RecordsPerTick;
        read_per_tick_ = ReadPerTick;
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Stops, its stream ending in an odd number of bytes (a letter of a
    // record never finished is added when it is even), so that in a word
    // format a byte of it is left waiting for a pair that never comes.
    void StopOdd();
    void SendNow(const std::string& Bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        extra_ += Bytes;
    }
    // Sends about Bytes of records as fast as they are taken.
    void Burst(std::size_t Bytes) { burst_ = Bytes; }
    std::size_t BurstLeft() const { return burst_; }
    // Records written whole, and when the last of them began.
    std::uint32_t Complete() const { return complete_; }
    long LastWritten() const { return last_written_; }
    int Stream() const { return stream_; }
    // When each record was written (read once the device has stopped).
    const WriteLog& Log() const { return log_; }
    // The bytes of records written from From until To (ms of the day).
    std::size_t WrittenBetween(long From, long To) const {
        std::size_t n = 0;
        for (const Written& w : log_)
            if (w.at != kNoStamp && Minus(w.at, From) >= 0 && Minus(To, w.at) >= 0) n += kRecord;
        return n;
    }

protected:
    // Writes what it can of Bytes now: the count taken, -1 when the device
    // can take nothing any more.
    virtual long Put(const std::string& Bytes) = 0;
    virtual void Take(std::size_t Max) = 0;
    // One record a write (a datagram each).
    virtual bool Whole() const { return false; }
    // The stream's bytes written so far (once it has stopped).
    std::size_t BytesWritten() const { return written_; }

private:
    void Logged(std::uint32_t Seq, long At, long Put) {
        if (log_.size() <= Seq) log_.resize(Seq + 1);
        log_[Seq] = {At, Put};
    }
    void Run();
    // Writes the front of Bytes (whole records, the first perhaps begun
    // before, at Time); counts the records finished. Returns the bytes
    // written.
    std::size_t Write(const std::string& Bytes, long Time);
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> broken_{false};
    std::atomic<std::size_t> written_{0};
    std::atomic<std::size_t> burst_{0};
    std::atomic<std::uint32_t> complete_{0};
    std::atomic<long> last_written_{0};
    std::uint32_t seq_ = 0;
    int stream_ = -1;
    int per_tick_ = 0;
    std::size_t read_per_tick_ = 0;
    std::mutex mutex_;
    std::string extra_;
    WriteLog log_;
};

class PtyDevice : public Device {
public:
    // Plays the device of serial port COM<Com>.
    explicit PtyDevice(int Com);
    ~PtyDevice() override { Stop(); }
    test_support::PtyPair pty;

protected:
    long Put(const std::string& Bytes) override;
    void Take(std::size_t Max) override;
};

class SocketDevice : public Device {
public:
    // Sends on Fd; datagrams go to the local port To.
    SocketDevice(int Fd, bool Datagrams, std::uint16_t To);
    ~SocketDevice() override { Stop(); }
    std::uint16_t LocalPort() const { return test_support::BoundPort(fd_.fd); }
    // Leaves: what was sent stays the peer's to read. Its stream ends in an
    // odd number of bytes (a letter of a record never finished is added when
    // it is even), so that in a word format a byte of it is left waiting for
    // a pair that never comes.
    void Leave();

protected:
    long Put(const std::string& Bytes) override;
    void Take(std::size_t Max) override;
    bool Whole() const override { return datagrams_; }

private:
    test_support::Fd fd_;
    bool datagrams_;
    std::uint16_t to_;
};

}  // namespace receive_table::detail
