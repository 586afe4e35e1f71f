#pragma once
// The serial port component: opens one port, applies its line settings,
// polls it for received bytes on a timer tick and hands them to its owner
// through events, writes synchronously and reads on demand. Everything runs
// on the GUI thread; the multimedia timer's callback only posts a tick.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/vcl/component.h"
#include "platform/win/comm.h"
#include "platform/win/message_window.h"

namespace ports {

// 0: the device name is set through PortName; n: COM port n (the main
// window also stores 20 to 255).
enum TPortNumber : std::uint8_t {
    pnCustom, pnCOM1, pnCOM2, pnCOM3, pnCOM4, pnCOM5, pnCOM6, pnCOM7, pnCOM8, pnCOM9, pnCOM10,
    pnCOM11, pnCOM12, pnCOM13, pnCOM14, pnCOM15, pnCOM16, pnCOM17, pnCOM18, pnCOM19
};

enum TBaudRate : std::uint8_t {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
    br56000, br57600, br115200, br128000, br256000
};

enum TDataBits : std::uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };
enum TStopBits : std::uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };
enum TParity : std::uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowControl : std::uint8_t { hfNONE, hfNONERTSON, hfRTSCTS, hfRTSTOGGLE };
enum TSwFlowControl : std::uint8_t { sfNONE, sfXIn, sfXOut, sfXBoth };
enum TPacketMode : std::uint8_t { pmDiscard, pmPass };
enum TLineStatus : std::uint8_t { lsCTS, lsDSR, lsRING, lsCD };

// A set of TLineStatus.
class TLineStatusSet {
public:
    TLineStatusSet() = default;
    TLineStatusSet(std::initializer_list<TLineStatus> items) {
        for (auto s : items) Include(s);
    }
    void Include(TLineStatus s) { bits_ |= static_cast<std::uint8_t>(1u << s); }
    bool Contains(TLineStatus s) const { return (bits_ >> s) & 1u; }
    bool Empty() const { return bits_ == 0; }
    bool operator==(const TLineStatusSet&) const = default;

private:
    std::uint8_t bits_ = 0;
};

// The rate a TBaudRate names, in bits per second; 0 for brCustom.
std::uint32_t BaudRateOf(TBaudRate rate);

using TReceiveDataEvent = std::function<void(vcl::TComponent* Sender, const void* DataPtr, std::uint32_t DataSize)>;
using TReceivePacketEvent = std::function<void(vcl::TComponent* Sender, const void* Packet, std::uint32_t DataSize)>;
using TReceiveErrorEvent = std::function<void(vcl::TComponent* Sender, std::int32_t Errs)>;

class TCommPortDriver : public vcl::TComponent {
public:
    explicit TCommPortDriver(vcl::TComponent* AOwner);
    ~TCommPortDriver() override;

    win::HANDLE Handle() const { return handle_; }

    TPortNumber Port() const { return port_; }
    void SetPort(TPortNumber Value);
    const std::string& PortName() const { return portName_; }
    void SetPortName(const std::string& Value);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate Value);
    std::uint32_t BaudRateValue() const { return baudRateValue_; }
    void SetBaudRateValue(std::uint32_t Value);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits Value);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits Value);
    TParity Parity() const { return parity_; }
    void SetParity(TParity Value);
    THwFlowControl HwFlow() const { return hwFlow_; }
    void SetHwFlow(THwFlowControl Value);
    TSwFlowControl SwFlow() const { return swFlow_; }
    void SetSwFlow(TSwFlowControl Value);
    std::uint32_t InBufSize() const { return inBufSize_; }
    void SetInBufSize(std::uint32_t Value);
    std::uint32_t OutBufSize() const { return outBufSize_; }
    void SetOutBufSize(std::uint32_t Value);
    // While open, a size above InBufSize cannot get a buffer large enough; it
    // is held back and takes effect when the port is closed (the packet size
    // in use until then stays as it was).
    std::int16_t PacketSize() const { return packetSize_; }
    void SetPacketSize(std::int16_t Value);
    std::int32_t PacketTimeout() const { return packetTimeout_; }
    void SetPacketTimeout(std::int32_t Value);
    TPacketMode PacketMode() const { return packetMode_; }
    void SetPacketMode(TPacketMode Value) { packetMode_ = Value; }
    std::uint16_t PollingDelay() const { return pollingDelay_; }
    void SetPollingDelay(std::uint16_t Value);
    bool EnableDTROnOpen() const { return enableDTROnOpen_; }
    void SetEnableDTROnOpen(bool Value) { enableDTROnOpen_ = Value; }
    std::uint32_t InputTimeout() const { return inputTimeout_; }
    void SetInputTimeout(std::uint32_t Value) { inputTimeout_ = Value; }
    bool CheckLineStatus() const { return checkLineStatus_; }
    void SetCheckLineStatus(bool Value) { checkLineStatus_ = Value; }
    bool UseMultimediaTimer() const { return useMultimediaTimer_; }
    void SetUseMultimediaTimer(bool Value);

    TReceiveDataEvent OnReceiveData;
    TReceivePacketEvent OnReceivePacket;
    TReceiveErrorEvent OnReceiveError;
    // The device went away while the port was open (a USB adapter pulled, the
    // far end of a pseudo-terminal closed): once what it sent before has been
    // read, the port closes itself and raises this.
    std::function<void(vcl::TComponent* Sender)> OnDeviceLost;
    // The port has closed, after handing out what it had read: nothing more
    // comes from this opening.
    std::function<void(vcl::TComponent* Sender)> OnClosed;

    bool Connect();
    // Closes the port. What it has read from the device and not handed out
    // yet goes to OnReceiveData first (in chunks of at most InBufSize), so
    // that received bytes are never thrown away with the port; what the
    // device and the kernel still hold is left to them. Nothing in packet
    // mode: a rest that is no whole packet stays a rest.
    void Disconnect();
    // The most bytes the owner can take now. The port reads no more than
    // this from its device, on ticks and into its own queue together, until
    // it is told more: an owner whose reader is busy holds the device back
    // instead of holding its bytes without bound. Unlimited at first.
    void SetReceiveRoom(std::uint32_t Bytes);
    // Bytes the driver's ports have taken from their devices since it was
    // made, handed out or not: what was received, as against what reached
    // the owner.
    std::uint64_t DeviceBytesRead() const;
    bool Connected() const { return handle_ != win::INVALID_HANDLE_VALUE; }
    // Whether the line settings a setter applied to the open port last were
    // taken (a rate the device refuses is not).
    bool LineSettingsApplied() const { return lineSettingsApplied_; }
    // Why the port is not open, in the serial layer's words: the reason of
    // the last failed open, of the device's loss or of a failed write; empty
    // since the last successful open.
    const std::string& FailureReason() const { return failureReason_; }
    std::uint32_t SendData(const void* DataPtr, std::uint32_t DataSize, bool* Success = nullptr);
    // As SendData, but waits at most Ms (at least 1) for the device to take
    // the bytes, whatever the write time-outs: a caller that runs the message
    // loop between such writes sends to a slow device without freezing.
    std::uint32_t SendDataWithin(const void* DataPtr, std::uint32_t DataSize, std::uint32_t Ms,
                                 bool* Success = nullptr);
    // How long one SendData of DataSize bytes may wait, in ms, by the write
    // time-outs (multiplier x bytes + constant); 0 when it may wait for good.
    std::uint64_t WriteTimeoutFor(std::uint32_t DataSize) const;
    std::uint32_t ReadData(void* DataPtr, std::uint32_t MaxSize, bool* Success = nullptr);
    std::uint32_t ReadDataTimeout(void* DataPtr, std::uint32_t MaxSize, bool* Success, std::uint32_t Timeout);
    std::int32_t CountRX();
    bool FlushBuffers(bool InBuf, bool OutBuf);
    bool SetWriteTimeouts(std::uint32_t Multiplier, std::uint32_t Constant);
    void PausePolling() { ++pauseCount_; }
    void ContinuePolling() { --pauseCount_; }
    void ToggleDTR(bool OnOff);
    void ToggleRTS(bool OnOff);
    TLineStatusSet GetLineStatus();
    // The timer service's shortest period; raises "Can't Get MinPollingDelay".
    static std::uint32_t GetMinPollingDelay();

    // The hidden window that receives the polling ticks, and the generation
    // a tick must carry to be taken.
    win::HWND HiddenWindow() const { return hiddenWindow_; }
    std::uint32_t TimerGeneration() const { return timerGeneration_.load(std::memory_order_relaxed); }

protected:
    // Opening: the port has just been opened, and both queues are emptied;
    // otherwise (a setting changed while open) only the output queue.
    bool ApplyCOMSettings(bool Opening);
    void StartPolling();
    void StopPolling();
    win::LRESULT TimerWndProc(win::HWND Wnd, win::UINT Msg, win::WPARAM WParam, win::LPARAM LParam);

private:
    static void TimerCallback(std::uint32_t TimerID, std::uint32_t Msg, win::DWORD_PTR User, win::DWORD_PTR,
                              win::DWORD_PTR);
    void ReceivePackets(std::uint32_t queued);
    // Disconnect's first step: what the port's queue holds, to OnReceiveData.
    void HandOutQueued();
    std::uint32_t Write(const void* DataPtr, std::uint32_t DataSize, bool& ok);
    std::uint32_t PacketLineTime() const;
    void NoteFailure() { failureReason_ = win::GetLastErrorText(); }

    static constexpr std::uint32_t kNoPacketStart = 0xFFFFFFFFu;

    win::HANDLE handle_ = win::INVALID_HANDLE_VALUE;
    bool lineSettingsApplied_ = true;
    std::string failureReason_;
    TPortNumber port_ = pnCOM2;
    std::string portName_ = "\\\\.\\COM2";
    TBaudRate baudRate_ = br9600;
    std::uint32_t baudRateValue_ = 9600;
    TDataBits dataBits_ = db8BITS;
    TStopBits stopBits_ = sb1BITS;
    TParity parity_ = ptNONE;
    THwFlowControl hwFlow_ = hfNONERTSON;
    TSwFlowControl swFlow_ = sfNONE;
    std::uint32_t inBufSize_ = 2048;
    std::uint32_t outBufSize_ = 2048;
    std::int16_t packetSize_ = -1;
    std::int16_t deferredPacketSize_ = 0;  // 0: nothing held back
    std::int32_t packetTimeout_ = -1;
    TPacketMode packetMode_ = pmDiscard;
    std::uint16_t pollingDelay_ = 50;
    bool enableDTROnOpen_ = true;
    std::uint32_t inputTimeout_ = 200;
    bool checkLineStatus_ = false;
    std::atomic<win::HWND> hiddenWindow_{0};
    std::vector<std::uint8_t> receiveBuffer_;
    std::uint32_t packetStart_ = kNoPacketStart;
    std::int32_t pauseCount_ = 0;
    bool inTick_ = false;
    std::uint32_t receiveRoom_ = 0xFFFFFFFFu;
    // The port whose queue Disconnect hands out: it takes nothing more.
    win::HANDLE closingHandle_ = win::INVALID_HANDLE_VALUE;
    std::uint64_t bytesReadBefore_ = 0;  // by ports closed since
    std::uint32_t errorAccumulator_ = 0;
    bool useMultimediaTimer_ = false;
    std::uint32_t multimediaTimerId_ = 0;
    std::atomic<std::uint32_t> timerGeneration_{1};
    win::COMMTIMEOUTS timeouts_{0, 0, 16, 0, 500};
};

}  // namespace ports
