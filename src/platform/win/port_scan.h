#pragma once
// The list of serial ports that exist on this machine, in the two shapes the
// port selection reads: the registry's list of serial devices (value data
// "COMn") and the Plug and Play device names ("<description> (COMn)"); plus
// the parsers the port selection applies to both, and the probe by opening.
//
// COM numbers come from the same mapping that opening a port uses
// (ComPortDevice): a port is listed when the device its number stands for is
// there and is a real serial device. A ttyS device is real only when a UART
// stands behind it (the kernel creates ttyS nodes for every possible legacy
// port); a USB, ACM or Bluetooth device, or any device mapped explicitly, is
// real when it is a character device.
//
// COM numbers are 1 to 255 throughout: larger ones would collide with the
// numbers of the foreign-port classes and do not fit the one-byte port
// field of a profile.
#include <string>
#include <utility>
#include <vector>

namespace win {

constexpr int FirstComPort = 1;
constexpr int LastComPort = 255;

constexpr bool IsComPortNumber(long long number) { return number >= FirstComPort && number <= LastComPort; }

struct SerialPortInfo {
    int Number = 0;           // COM number
    std::string Device;       // the device path the number maps to
    std::string Description;  // from sysfs (USB product or interface name, else the driver), else the path
};

// Every COM number whose device exists and is real, in number order.
// sysRoot is where sysfs is mounted (tests hand in a tree of their own).
std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot = "/sys");

// Whether the device at path is a serial device that can carry data.
bool IsRealSerialDevice(const std::string& path, const std::string& sysRoot = "/sys");
// A one-line description of the device in the program's code page.
std::string SerialDeviceDescription(const std::string& path, const std::string& sysRoot = "/sys");

// The registry's list of serial devices: "COMn" for each listed port.
std::vector<std::string> ReadSerialCommList(const std::string& sysRoot = "/sys");
// The Plug and Play names of the listed ports: "<description> (COMn)".
std::vector<std::string> ReadPnPPortNames(const std::string& sysRoot = "/sys");

// The port numbers of a registry list: entries that begin with "COM"
// followed by a number from 1 to 255, in numeric order; others are dropped.
std::vector<int> ComNumbersFromList(const std::vector<std::string>& portNames);

// Descriptions from Plug and Play names: ("COMn", description) for the last
// "(COMn" in a name, and for a second "COMm" after it (a device that names
// two ports describes both). Numbers outside 1 to 255 are dropped.
std::vector<std::pair<std::string, std::string>> PortDescriptionsFromNames(const std::vector<std::string>& names);

// Opens and closes COM number through the mapping; true when it opened.
bool ProbeComPort(int number);
// The numbers from 1 to last that open, in order.
std::vector<int> ProbeComPorts(int last);

}  // namespace win
