#pragma once
// Serial communications in the shape of the Win32 comm calls, over termios.
//
// A COM name ("\\.\COM7" or "COM7") is mapped to a device: first the
// environment variable VOSTREL_COMPORTS ("7=/dev/pts/3;8=/dev/ttyUSB0"),
// then the overrides the settings provide, then the fixed rule
// ttyS<k> -> COM k+1, ttyUSB<k> -> COM k+33, ttyACM<k> -> COM k+97,
// rfcomm<k> -> COM k+161. A plain device path is accepted as a name too.
//
// Each open port keeps an input queue of the size given to SetupComm. While
// the application's loop runs, the device is drained into it continuously;
// when it is full, draining stops and the kernel holds the rest (a writer on
// a pseudo-terminal is then held back), so slow polling loses nothing.
//
// All calls belong to the GUI thread. Failures set a thread's last error
// (Win32 codes) and a text with the reason.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/win/types.h"

namespace win {

// Error codes.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_BAD_COMMAND = 22;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;

DWORD GetLastError();
void SetLastError(DWORD code);
// The reason of the last failure of a comm call on this thread, in words.
std::string GetLastErrorText();

// CreateFileA arguments.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// DCB values.
constexpr DWORD DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2, RTS_CONTROL_TOGGLE = 3;
constexpr BYTE NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;

struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
static_assert(sizeof(DCB) == 28);

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
};

// ClearCommError error bits.
constexpr DWORD CE_RXOVER = 0x1, CE_OVERRUN = 0x2, CE_RXPARITY = 0x4, CE_FRAME = 0x8, CE_BREAK = 0x10,
                CE_TXFULL = 0x100, CE_IOE = 0x400, CE_MODE = 0x8000;
// PurgeComm flags.
constexpr DWORD PURGE_TXABORT = 0x1, PURGE_RXABORT = 0x2, PURGE_TXCLEAR = 0x4, PURGE_RXCLEAR = 0x8;
// EscapeCommFunction functions.
constexpr DWORD SETXOFF = 1, SETXON = 2, SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6, RESETDEV = 7,
                SETBREAK = 8, CLRBREAK = 9;
// GetCommModemStatus bits.
constexpr DWORD MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80;

// The settings' COM-number-to-device table, consulted after the environment.
void SetComPortMapOverrides(std::map<int, std::string> overrides);
// The device a COM number stands for; empty when none.
std::string ComPortDevice(int number);
// The device the environment or the settings map a COM number to; empty when
// only the fixed rule (or nothing) does.
std::string ExplicitComPortDevice(int number);
// The entries of VOSTREL_COMPORTS that are refused (a COM number outside 1
// to 255, or no number at all), one text each, saying why.
std::vector<std::string> ComPortMapErrors();

// Opens a serial device exclusively. Returns INVALID_HANDLE_VALUE on failure:
// ERROR_FILE_NOT_FOUND (no such port or device), ERROR_ACCESS_DENIED (in use
// or forbidden; the text says which).
HANDLE CreateFileA(const std::string& fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
bool CloseHandle(HANDLE handle);

bool SetCommState(HANDLE handle, const DCB* dcb);
bool GetCommState(HANDLE handle, DCB* dcb);
bool SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue);
bool SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS* timeouts);
bool GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts);
// PURGE_TXCLEAR drops what the port's output queue holds (TIOCOUTQ); bytes a
// pseudo-terminal handed to the other side are that side's input and stay.
bool PurgeComm(HANDLE handle, DWORD flags);
// Error bits collected since the last call, and the queue sizes. Fails (with
// the queue sizes still filled) once the device has gone away.
bool ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* stat);

// Reads under the COMMTIMEOUTS rules: returns success with what arrived when
// the time is up. Once the device has gone away, what is still queued is
// handed out and then reads fail.
bool ReadFile(HANDLE handle, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
// Writes, blocking at most WriteTotalTimeoutMultiplier * n +
// WriteTotalTimeoutConstant ms; a write that runs out of time succeeds with
// the short count.
bool WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);

// The queue takes bytes from the device only while it holds fewer than limit
// (and fewer than its size): an owner that cannot take more now holds the
// device back, as a busy program would, and raising the limit again lets
// reading go on. A read never waits for more than the queue may take.
// 0 stops reading altogether (a port about to close).
bool SetCommInputLimit(HANDLE handle, DWORD limit);
// Bytes read from the device since the port was opened, whether handed out
// yet or not.
bool GetCommInputTotal(HANDLE handle, std::uint64_t* total);

bool GetCommModemStatus(HANDLE handle, DWORD* modemStatus);
// Modem lines a device cannot drive (a pseudo-terminal) are remembered and
// the call succeeds, as with a port that has nothing attached.
bool EscapeCommFunction(HANDLE handle, DWORD function);

}  // namespace win
