#include "ports/comm_port_driver.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/failure_trace.h"
#include "platform/win/timers.h"

namespace ports {

namespace {

constexpr std::uint32_t kMinBufSize = 128;
// XON/XOFF limits are capped like the NT driver caps them.
constexpr std::uint32_t kMaxXonXoffLimit = 4096;

}  // namespace

std::uint32_t BaudRateOf(TBaudRate rate) {
    static constexpr std::uint32_t rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                              14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rate < std::size(rates) ? rates[rate] : 0;
}

TCommPortDriver::TCommPortDriver(vcl::TComponent* AOwner) : vcl::TComponent(AOwner) {
    receiveBuffer_.resize(inBufSize_);
    if (!Designing())
        hiddenWindow_ = win::AllocateHWnd(
            [this](win::HWND w, win::UINT m, win::WPARAM wp, win::LPARAM lp) { return TimerWndProc(w, m, wp, lp); },
            "CPDrvWnd");
}

TCommPortDriver::~TCommPortDriver() {
    // The owner may be going away itself: nothing is handed out any more.
    OnReceiveData = nullptr;
    OnReceiveError = nullptr;
    Disconnect();
    if (hiddenWindow_) win::DeallocateHWnd(hiddenWindow_);
}

// ---- property setters ----

void TCommPortDriver::SetPort(TPortNumber Value) {
    if (Connected()) return;
    port_ = Value;
    if (port_ != pnCustom) portName_ = "\\\\.\\COM" + std::to_string(static_cast<unsigned>(port_));
}

void TCommPortDriver::SetPortName(const std::string& Value) {
    if (Connected()) return;
    port_ = pnCustom;
    portName_ = Value;
}

void TCommPortDriver::SetBaudRate(TBaudRate Value) {
    baudRate_ = Value;
    if (baudRate_ != brCustom) baudRateValue_ = BaudRateOf(baudRate_);
    if (Connected()) lineSettingsApplied_ = ApplyCOMSettings(false);
}

void TCommPortDriver::SetBaudRateValue(std::uint32_t Value) {
    if (baudRate_ != brCustom) return;
    baudRateValue_ = Value;
    if (Connected()) lineSettingsApplied_ = ApplyCOMSettings(false);
}

void TCommPortDriver::SetDataBits(TDataBits Value) {
    dataBits_ = Value;
    if (Connected()) lineSettingsApplied_ = ApplyCOMSettings(false);
}

void TCommPortDriver::SetStopBits(TStopBits Value) {
    stopBits_ = Value;
    if (Connected()) lineSettingsApplied_ = ApplyCOMSettings(false);
}

void TCommPortDriver::SetParity(TParity Value) {
    parity_ = Value;
    if (Connected()) lineSettingsApplied_ = ApplyCOMSettings(false);
}

void TCommPortDriver::SetHwFlow(THwFlowControl Value) {
    hwFlow_ = Value;
    if (Connected()) lineSettingsApplied_ = ApplyCOMSettings(false);
}

void TCommPortDriver::SetSwFlow(TSwFlowControl Value) {
    if (Value == swFlow_) return;
    swFlow_ = Value;
    if (Connected()) lineSettingsApplied_ = ApplyCOMSettings(false);
}

void TCommPortDriver::SetInBufSize(std::uint32_t Value) {
    if (Connected()) return;
    inBufSize_ = std::max(Value, kMinBufSize);
    receiveBuffer_ = std::vector<std::uint8_t>(inBufSize_);
    SetPacketSize(packetSize_);
}

void TCommPortDriver::SetOutBufSize(std::uint32_t Value) {
    if (Connected()) return;
    outBufSize_ = std::max(Value, kMinBufSize);
}

void TCommPortDriver::SetPacketSize(std::int16_t Value) {
    if (Value < 1) {
        packetSize_ = -1;
        deferredPacketSize_ = 0;
        return;
    }
    if (static_cast<std::uint32_t>(Value) > inBufSize_ && Connected()) {
        // The receive buffer cannot grow while the port is open; reading a
        // packet larger than it would overrun it.
        deferredPacketSize_ = Value;
        return;
    }
    deferredPacketSize_ = 0;
    packetSize_ = Value;
    if (static_cast<std::uint32_t>(packetSize_) > inBufSize_) SetInBufSize(static_cast<std::uint32_t>(packetSize_));
}

void TCommPortDriver::SetPacketTimeout(std::int32_t Value) {
    if (Value < 1) {
        packetTimeout_ = -1;
        return;
    }
    std::int32_t least = pollingDelay_ + pollingDelay_ * 40 / 100;
    packetTimeout_ = std::max(Value, least);
}

void TCommPortDriver::SetPollingDelay(std::uint16_t Value) {
    std::uint32_t least = GetMinPollingDelay();
    std::uint16_t delay = Value < least ? static_cast<std::uint16_t>(std::min<std::uint32_t>(least, 0xFFFF)) : Value;
    if (delay == pollingDelay_) return;
    if (Connected()) StopPolling();
    pollingDelay_ = delay;
    if (Connected()) StartPolling();
    SetPacketTimeout(packetTimeout_);
}

void TCommPortDriver::SetUseMultimediaTimer(bool Value) {
    if (Value == useMultimediaTimer_) return;
    if (Connected()) StopPolling();
    useMultimediaTimer_ = Value;
    if (Connected()) StartPolling();
    SetPacketTimeout(packetTimeout_);
}

// ---- opening and closing ----

bool TCommPortDriver::Connect() {
    if (Connected()) return true;
    errorAccumulator_ = 0;
    handle_ = win::CreateFileA(portName_, win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr, win::OPEN_EXISTING,
                               win::FILE_ATTRIBUTE_NORMAL, 0);
    if (!Connected()) {
        NoteFailure();
        return false;
    }
    if (!ApplyCOMSettings(true)) {
        NoteFailure();
        Disconnect();
        return false;
    }
    failureReason_.clear();
    win::SetCommTimeouts(handle_, &timeouts_);
    win::SetCommInputLimit(handle_, receiveRoom_);
    StartPolling();
    return true;
}

void TCommPortDriver::Disconnect() {
    if (!Connected()) return;
    StopPolling();
    const win::HANDLE handle = handle_;
    // Closed also when a handler fails: a port that reads no more must not
    // stay open. A handler that closed or reopened the port itself has had
    // its way.
    struct CloseAfter {
        TCommPortDriver& driver;
        win::HANDLE handle;
        ~CloseAfter() {
            if (driver.handle_ != handle) return;
            std::uint64_t read = 0;
            if (win::GetCommInputTotal(handle, &read)) driver.bytesReadBefore_ += read;
            win::CloseHandle(handle);
            driver.handle_ = win::INVALID_HANDLE_VALUE;
            if (driver.deferredPacketSize_ > 0) driver.SetPacketSize(driver.deferredPacketSize_);
            // Never out of a destructor: the owner is told, and what it
            // does about it is its own affair.
            if (driver.OnClosed) {
                try {
                    driver.OnClosed(&driver);
                } catch (...) {
                    rtl::TraceFailure(std::current_exception(), "telling that a port closed");
                }
            }
        }
    } close{*this, handle};
    HandOutQueued();
}

void TCommPortDriver::HandOutQueued() {
    if (packetSize_ >= 1) return;
    const win::HANDLE handle = handle_;
    // What the queue holds now, and nothing more: a device that keeps
    // sending would otherwise keep this going.
    win::SetCommInputLimit(handle, 0);
    // A tick within a handler that runs a nested loop would hand out a
    // later chunk before this one is done; room the handler gives meanwhile
    // is for the next port, not this one.
    struct Restore {
        bool& flag;
        bool value;
        win::HANDLE& closing;
        win::HANDLE was;
        ~Restore() {
            flag = value;
            closing = was;
        }
    } restore{inTick_, std::exchange(inTick_, true), closingHandle_, std::exchange(closingHandle_, handle)};
    // Not the tick's buffer: a tick's handler may be what closes the port.
    std::vector<std::uint8_t> chunk;
    while (handle_ == handle) {
        win::DWORD errors = 0;
        win::COMSTAT stat{};
        win::ClearCommError(handle, &errors, &stat);
        errorAccumulator_ |= errors;
        if (stat.cbInQue == 0) return;
        chunk.resize(std::min<std::uint32_t>(stat.cbInQue, inBufSize_));
        win::DWORD got = 0;
        if (!win::ReadFile(handle, chunk.data(), static_cast<win::DWORD>(chunk.size()), &got, nullptr) || got == 0)
            return;
        if (OnReceiveData) OnReceiveData(this, chunk.data(), got);
    }
}

void TCommPortDriver::SetReceiveRoom(std::uint32_t Bytes) {
    receiveRoom_ = Bytes;
    if (Connected() && handle_ != closingHandle_) win::SetCommInputLimit(handle_, Bytes);
}

std::uint64_t TCommPortDriver::DeviceBytesRead() const {
    std::uint64_t read = 0;
    if (Connected()) win::GetCommInputTotal(handle_, &read);
    return bytesReadBefore_ + read;
}

bool TCommPortDriver::ApplyCOMSettings(bool Opening) {
    if (!Connected()) return false;
    win::DCB dcb{};
    dcb.DCBlength = sizeof(win::DCB);
    dcb.BaudRate = baudRateValue_;
    dcb.fBinary = 1;
    dcb.fDtrControl = enableDTROnOpen_ ? win::DTR_CONTROL_ENABLE : win::DTR_CONTROL_DISABLE;
    switch (hwFlow_) {
        case hfNONE: dcb.fRtsControl = win::RTS_CONTROL_DISABLE; break;
        case hfNONERTSON: dcb.fRtsControl = win::RTS_CONTROL_ENABLE; break;
        case hfRTSCTS:
            dcb.fRtsControl = win::RTS_CONTROL_HANDSHAKE;
            dcb.fOutxCtsFlow = 1;
            break;
        case hfRTSTOGGLE: dcb.fRtsControl = win::RTS_CONTROL_TOGGLE; break;
    }
    dcb.fInX = (swFlow_ == sfXIn || swFlow_ == sfXBoth) ? 1 : 0;
    dcb.fOutX = (swFlow_ == sfXOut || swFlow_ == sfXBoth) ? 1 : 0;
    auto limit = static_cast<win::WORD>(std::min(inBufSize_ / 4, kMaxXonXoffLimit));
    dcb.XonLim = limit;
    dcb.XoffLim = limit;
    dcb.ByteSize = static_cast<win::BYTE>(dataBits_ + 5);
    dcb.Parity = parity_;
    dcb.StopBits = stopBits_;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (!win::SetCommState(handle_, &dcb)) return false;
    // A port being opened starts empty. A line setting changed on an open
    // port keeps what was received: the device's bytes are not the
    // setting's to throw away.
    if (!FlushBuffers(Opening, true)) return false;
    return win::SetupComm(handle_, inBufSize_, outBufSize_);
}

// ---- polling ----

void TCommPortDriver::StartPolling() {
    if (useMultimediaTimer_) {
        multimediaTimerId_ = win::timeSetEvent(pollingDelay_, 0, &TimerCallback,
                                               reinterpret_cast<win::DWORD_PTR>(this), win::TIME_PERIODIC);
        timerGeneration_.fetch_add(1, std::memory_order_relaxed);
    } else {
        timerGeneration_.store(1, std::memory_order_relaxed);
        win::SetTimer(hiddenWindow_, 1, pollingDelay_);
    }
}

void TCommPortDriver::StopPolling() {
    if (useMultimediaTimer_)
        win::timeKillEvent(multimediaTimerId_);
    else
        win::KillTimer(hiddenWindow_, 1);
}

void TCommPortDriver::TimerCallback(std::uint32_t, std::uint32_t, win::DWORD_PTR User, win::DWORD_PTR,
                                    win::DWORD_PTR) {
    auto* self = reinterpret_cast<TCommPortDriver*>(User);
    // A tick that cannot be posted loses nothing, so its failure is not
    // kept: the window outlives the timer (StopPolling ends the timer's
    // thread before the window may go), so only a want of memory fails it,
    // and then the next tick, PollingDelay ms later, reads all that waits in
    // the port's queue, as a tick does after ticks folded into one.
    win::PostMessage(self->hiddenWindow_.load(std::memory_order_relaxed), win::WM_TIMER,
                     self->timerGeneration_.load(std::memory_order_relaxed), 0);
}

win::LRESULT TCommPortDriver::TimerWndProc(win::HWND Wnd, win::UINT Msg, win::WPARAM WParam, win::LPARAM LParam) {
    if (Msg != win::WM_TIMER || !Connected()) return win::DefWindowProc(Wnd, Msg, WParam, LParam);
    if (pauseCount_ > 0) return 0;
    if (WParam != timerGeneration_.load(std::memory_order_relaxed)) return 0;
    // A handler that runs a nested message loop must not see a tick read
    // into the buffer it is still looking at: the bytes wait for the first
    // tick after it returns.
    if (inTick_) return 0;
    inTick_ = true;
    struct LeaveTick {
        bool& flag;
        ~LeaveTick() { flag = false; }
    } leave{inTick_};

    win::DWORD errors = 0;
    win::COMSTAT stat{};
    const bool present = win::ClearCommError(handle_, &errors, &stat) ||
                         win::GetLastError() != win::ERROR_BAD_COMMAND;
    errorAccumulator_ |= errors;
    const std::uint32_t queued = stat.cbInQue;
    if (!present && queued == 0) {
        // Nothing will ever come again: a port that only receives would
        // otherwise look open for good.
        NoteFailure();
        Disconnect();
        if (OnDeviceLost) OnDeviceLost(this);
        return 0;
    }
    if (errorAccumulator_ != 0 && OnReceiveError) {
        // Cleared before the call, so that errors a handler collects (through
        // CountRX) wait for the next tick instead of vanishing.
        auto errs = static_cast<std::int32_t>(errorAccumulator_);
        errorAccumulator_ = 0;
        OnReceiveError(this, errs);
        if (!Connected()) return 0;
    }

    if (packetSize_ < 1) {
        // Never more than the owner can take: the rest waits in the queue,
        // which then holds the device back.
        const std::uint32_t toRead = std::min({queued, inBufSize_, receiveRoom_});
        if (toRead == 0) return 0;
        win::DWORD got = 0;
        if (win::ReadFile(handle_, receiveBuffer_.data(), toRead, &got, nullptr) && got > 0 && OnReceiveData)
            OnReceiveData(this, receiveBuffer_.data(), got);
        return 0;
    }
    ReceivePackets(queued);
    return 0;
}

void TCommPortDriver::ReceivePackets(std::uint32_t queued) {
    auto size = static_cast<std::uint32_t>(packetSize_);
    if (queued < size) {
        if (packetTimeout_ >= 1 && packetStart_ != kNoPacketStart &&
            win::GetTickCount() - packetStart_ > static_cast<std::uint32_t>(packetTimeout_)) {
            win::DWORD got = 0;
            std::uint32_t toRead = std::min(queued, static_cast<std::uint32_t>(receiveBuffer_.size()));
            if (win::ReadFile(handle_, receiveBuffer_.data(), toRead, &got, nullptr) && packetMode_ == pmPass &&
                got > 0 && OnReceivePacket)
                OnReceivePacket(this, receiveBuffer_.data(), got);
            packetStart_ = kNoPacketStart;
        } else if (queued > 0 && packetStart_ == kNoPacketStart) {
            packetStart_ = win::GetTickCount();
        }
        return;
    }
    const std::uint32_t lineTime = PacketLineTime();
    do {
        win::DWORD got = 0;
        std::uint32_t toRead = std::min(size, static_cast<std::uint32_t>(receiveBuffer_.size()));
        if (win::ReadFile(handle_, receiveBuffer_.data(), toRead, &got, nullptr) && got > 0 && OnReceivePacket) {
            OnReceivePacket(this, receiveBuffer_.data(), got);
            if (!Connected() || packetSize_ < 1) return;
        }
        if (packetStart_ != kNoPacketStart) packetStart_ += lineTime;
        queued -= size;
        if (queued == 0) packetStart_ = kNoPacketStart;
    } while (queued >= size);
    // Whole packets were read before any start was recorded: the rest can
    // only have begun to arrive by now, so its time starts here.
    if (queued > 0 && packetStart_ == kNoPacketStart) packetStart_ = win::GetTickCount();
}

// 10 bit times per byte, rounded to the nearest ms, ties to even.
std::uint32_t TCommPortDriver::PacketLineTime() const {
    std::uint32_t rate = baudRate_ == brCustom ? baudRateValue_ : BaudRateOf(baudRate_);
    if (rate == 0 || packetSize_ < 1) return 0;
    double ms = std::nearbyint(static_cast<double>(packetSize_) / (rate / 10.0) * 1000.0);
    return ms >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(ms);
}

// ---- operations ----

std::uint32_t TCommPortDriver::SendData(const void* DataPtr, std::uint32_t DataSize, bool* Success) {
    bool local = false;
    return Write(DataPtr, DataSize, Success ? *Success : local);
}

std::uint32_t TCommPortDriver::SendDataWithin(const void* DataPtr, std::uint32_t DataSize, std::uint32_t Ms,
                                              bool* Success) {
    bool local = false;
    bool& ok = Success ? *Success : local;
    if (!Connected()) return Write(DataPtr, DataSize, ok);
    win::COMMTIMEOUTS within = timeouts_;
    within.WriteTotalTimeoutMultiplier = 0;
    within.WriteTotalTimeoutConstant = std::max<std::uint32_t>(Ms, 1);  // 0 and 0 would mean no limit
    win::SetCommTimeouts(handle_, &within);
    const std::uint32_t written = Write(DataPtr, DataSize, ok);
    if (Connected()) win::SetCommTimeouts(handle_, &timeouts_);
    return written;
}

std::uint64_t TCommPortDriver::WriteTimeoutFor(std::uint32_t DataSize) const {
    return std::uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * DataSize + timeouts_.WriteTotalTimeoutConstant;
}

std::uint32_t TCommPortDriver::Write(const void* DataPtr, std::uint32_t DataSize, bool& ok) {
    ok = Connected();
    if (!ok) return 0;
    if (checkLineStatus_ && GetLineStatus().Empty()) return 0;
    win::DWORD written = 0;
    ok = win::WriteFile(handle_, DataPtr, DataSize, &written, nullptr);
    if (!ok) NoteFailure();
    return written;
}

std::uint32_t TCommPortDriver::ReadData(void* DataPtr, std::uint32_t MaxSize, bool* Success) {
    return ReadDataTimeout(DataPtr, MaxSize, Success, inputTimeout_);
}

std::uint32_t TCommPortDriver::ReadDataTimeout(void* DataPtr, std::uint32_t MaxSize, bool* Success,
                                               std::uint32_t Timeout) {
    bool local = false;
    bool& ok = Success ? *Success : local;
    ok = Connected();
    if (!ok) return 0;
    PausePolling();
    const win::DWORD start = win::GetTickCount();
    auto* out = static_cast<std::uint8_t*>(DataPtr);
    std::uint32_t total = 0;
    do {
        win::DWORD got = 0;
        ok = win::ReadFile(handle_, out + total, MaxSize - total, &got, nullptr);
        if (!ok) break;
        total += got;
    } while (total < MaxSize && win::GetTickCount() - start < Timeout);
    ContinuePolling();
    return total;
}

std::int32_t TCommPortDriver::CountRX() {
    if (!Connected()) return 0;
    win::DWORD errors = 0;
    win::COMSTAT stat{};
    win::ClearCommError(handle_, &errors, &stat);
    errorAccumulator_ |= errors;
    return static_cast<std::int32_t>(stat.cbInQue);
}

bool TCommPortDriver::FlushBuffers(bool InBuf, bool OutBuf) {
    errorAccumulator_ = 0;
    if (!Connected()) return false;
    win::DWORD flags = 0;
    if (InBuf) flags |= win::PURGE_RXABORT | win::PURGE_RXCLEAR;
    if (OutBuf) flags |= win::PURGE_TXABORT | win::PURGE_TXCLEAR;
    bool ok = win::PurgeComm(handle_, flags);
    if (ok) packetStart_ = kNoPacketStart;
    return ok;
}

bool TCommPortDriver::SetWriteTimeouts(std::uint32_t Multiplier, std::uint32_t Constant) {
    timeouts_.WriteTotalTimeoutMultiplier = Multiplier;
    timeouts_.WriteTotalTimeoutConstant = Constant;
    if (!Connected()) return true;
    return win::SetCommTimeouts(handle_, &timeouts_);
}

void TCommPortDriver::ToggleDTR(bool OnOff) {
    if (Connected()) win::EscapeCommFunction(handle_, OnOff ? win::SETDTR : win::CLRDTR);
}

void TCommPortDriver::ToggleRTS(bool OnOff) {
    if (Connected()) win::EscapeCommFunction(handle_, OnOff ? win::SETRTS : win::CLRRTS);
}

TLineStatusSet TCommPortDriver::GetLineStatus() {
    TLineStatusSet result;
    win::DWORD status = 0;
    if (!Connected() || !win::GetCommModemStatus(handle_, &status)) return result;
    if (status & win::MS_CTS_ON) result.Include(lsCTS);
    if (status & win::MS_DSR_ON) result.Include(lsDSR);
    if (status & win::MS_RING_ON) result.Include(lsRING);
    if (status & win::MS_RLSD_ON) result.Include(lsCD);
    return result;
}

std::uint32_t TCommPortDriver::GetMinPollingDelay() {
    win::TIMECAPS caps{};
    if (win::timeGetDevCaps(&caps, sizeof caps) != win::TIMERR_NOERROR) throw rtl::Exception("Can't Get MinPollingDelay");
    return caps.wPeriodMin;
}

}  // namespace ports
