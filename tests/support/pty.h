#pragma once
// A pseudo-terminal pair that plays a serial device in tests: the program
// under test opens the slave (through a COM number mapped to it), the test
// reads and writes the master.
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace test_support {

class PtyPair {
public:
    PtyPair();  // throws std::runtime_error when no pty can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

    // Maps COM number to the slave through VOSTREL_COMPORTS (other entries kept).
    void MapAsCom(int number) const;

    // Writes all bytes, waiting up to timeout for room; returns bytes written.
    std::size_t Write(const std::string& bytes, std::chrono::milliseconds timeout = std::chrono::seconds(2));
    // Writes what fits now, without waiting.
    std::size_t WriteSome(const std::uint8_t* data, std::size_t size);
    // Reads until max bytes arrived or the time is up.
    std::string Read(std::size_t max, std::chrono::milliseconds timeout);

    // The device vanishes: the master side goes away.
    void CloseMaster();

    // The slave's line settings as the kernel holds them.
    termios SlaveTermios() const;
    std::uint32_t SlaveBaud() const;

private:
    int master_ = -1;
    int keeper_ = -1;  // the slave, held from CloseMaster on
    std::string slavePath_;
};

}  // namespace test_support
