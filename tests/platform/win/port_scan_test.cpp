#include "platform/win/port_scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win/comm.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"

namespace win {
namespace {

namespace fs = std::filesystem;

// Puts VOSTREL_COMPORTS back as it was when the test ends.
class ComPortsEnvironment {
public:
    ComPortsEnvironment() {
        if (const char* v = std::getenv("VOSTREL_COMPORTS")) saved_ = v;
    }
    ~ComPortsEnvironment() {
        if (saved_)
            setenv("VOSTREL_COMPORTS", saved_->c_str(), 1);
        else
            unsetenv("VOSTREL_COMPORTS");
    }
    void Set(const std::string& value) { setenv("VOSTREL_COMPORTS", value.c_str(), 1); }

private:
    std::optional<std::string> saved_;
};

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

void WriteFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

TEST(port_scan, lists_mapped_pty_slaves_with_descriptions_in_the_device_name_shape) {
    test_support::EnsureQtApplication();
    ComPortsEnvironment env;
    test_support::TempDir dir;
    WriteFile(dir.File("plain"), "not a device");
    test_support::PtyPair a, b;
    env.Set("201=" + dir.File("missing") + ";202=" + dir.File("plain") + ";203=/dev/null;256=" + a.SlavePath() +
            ";COM0=" + a.SlavePath());
    a.MapAsCom(200);
    b.MapAsCom(7);

    const auto ports = ListSerialPorts();
    std::vector<int> numbers;
    for (const auto& p : ports) {
        numbers.push_back(p.Number);
        EXPECT_TRUE(IsComPortNumber(p.Number)) << p.Number;
        EXPECT_TRUE(IsRealSerialDevice(p.Device)) << p.Device;
    }
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    const auto has = [&](int n) { return std::find(numbers.begin(), numbers.end(), n) != numbers.end(); };
    EXPECT_TRUE(has(7));
    EXPECT_TRUE(has(200));
    EXPECT_FALSE(has(201));  // no such file
    EXPECT_FALSE(has(202));  // not a device
    EXPECT_FALSE(has(203));  // a device, but no terminal
    EXPECT_FALSE(has(0));
    const auto com200 = std::find_if(ports.begin(), ports.end(), [](const auto& p) { return p.Number == 200; });
    ASSERT_NE(com200, ports.end());
    EXPECT_EQ(com200->Device, a.SlavePath());
    // A pty has no sysfs entry: the device path describes it.
    EXPECT_EQ(com200->Description, a.SlavePath());

    const auto registry = ReadSerialCommList();
    EXPECT_TRUE(Contains(registry, "COM7"));
    EXPECT_TRUE(Contains(registry, "COM200"));
    EXPECT_FALSE(Contains(registry, "COM256"));

    const auto names = ReadPnPPortNames();
    EXPECT_TRUE(Contains(names, b.SlavePath() + " (COM7)"));
    EXPECT_TRUE(Contains(names, a.SlavePath() + " (COM200)"));

    // Through the port selection's own parsers the two lists agree.
    const auto fromRegistry = ComNumbersFromList(registry);
    EXPECT_EQ(fromRegistry, numbers);
    const auto descriptions = PortDescriptionsFromNames(names);
    EXPECT_TRUE(std::find(descriptions.begin(), descriptions.end(),
                          std::make_pair(std::string("COM200"), a.SlavePath())) != descriptions.end());
    EXPECT_EQ(descriptions.size(), names.size());

    // Probing opens and closes through the same mapping.
    EXPECT_TRUE(ProbeComPort(200));
    EXPECT_TRUE(ProbeComPort(200));  // closed again after the first probe
    EXPECT_FALSE(ProbeComPort(201));
    EXPECT_FALSE(ProbeComPort(256));
    EXPECT_FALSE(ProbeComPort(0));
    const auto probed = ProbeComPorts(9);
    EXPECT_TRUE(std::find(probed.begin(), probed.end(), 7) != probed.end());
    EXPECT_TRUE(std::all_of(probed.begin(), probed.end(), [](int n) { return n >= 1 && n <= 9; }));
}

TEST(port_scan, registry_style_names_keep_only_com_numbers_from_1_to_255_in_numeric_order) {
    EXPECT_EQ(ComNumbersFromList({"COM10", "COM2", "COM1"}), (std::vector<int>{1, 2, 10}));
    EXPECT_EQ(ComNumbersFromList({"COM255", "COM256", "COM0", "COM999", "COM4294967297", "LPT1", "com3", "COM",
                                  "COMx", "COM12a", "COM 5"}),
              std::vector<int>{255});
    EXPECT_TRUE(ComNumbersFromList({}).empty());
    EXPECT_TRUE(IsComPortNumber(1));
    EXPECT_TRUE(IsComPortNumber(255));
    EXPECT_FALSE(IsComPortNumber(0));
    EXPECT_FALSE(IsComPortNumber(256));
    EXPECT_FALSE(IsComPortNumber(257));
}

TEST(port_scan, descriptions_come_from_the_last_com_in_parentheses_and_a_second_port_named_after_it) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(PortDescriptionsFromNames({"  USB Serial Port (COM7)  "}), (Pairs{{"COM7", "USB Serial Port"}}));
    EXPECT_EQ(PortDescriptionsFromNames({"Dual (A) adapter (COM3/COM4)"}),
              (Pairs{{"COM3", "Dual (A) adapter"}, {"COM4", "Dual (A) adapter"}}));
    EXPECT_EQ(PortDescriptionsFromNames({"Modem (COM  12)"}), (Pairs{{"COM12", "Modem"}}));
    // No number, zero, or one beyond the COM range: nothing.
    EXPECT_TRUE(PortDescriptionsFromNames({"Printer (LPT1)", "Odd (COM)", "Zero (COM0)", "Big (COM256)",
                                           "Huge (COM99999999999999999999)", ""})
                    .empty());
    // A second number out of range is dropped, the first kept.
    EXPECT_EQ(PortDescriptionsFromNames({"Pair (COM5, COM300)"}), (Pairs{{"COM5", "Pair"}}));
}

TEST(port_scan, a_ttys_node_counts_only_with_a_uart_behind_it_and_usb_adapters_are_named_by_sysfs) {
    test_support::PtyPair pty;
    test_support::TempDir dir;
    const fs::path sys = dir.File("sys");
    const fs::path tty = sys / "class" / "tty";
    const fs::path dev = dir.File("dev");
    fs::create_directories(dev);

    // ttyS5 stands for a legacy port; its node is a link to the pty slave.
    const fs::path ttyS5 = dev / "ttyS5";
    fs::create_symlink(pty.SlavePath(), ttyS5);
    fs::create_directories(tty / "ttyS5");
    EXPECT_FALSE(IsRealSerialDevice(ttyS5, sys));  // no device behind the node

    // The tty hangs off the serial core's port device, which hangs off the
    // hardware's platform device.
    const fs::path platformDev = sys / "devices" / "platform" / "serial8250";
    const fs::path portDev = platformDev / "serial8250:0" / "serial8250:0.0";
    const fs::path driver = sys / "bus" / "platform" / "drivers" / "serial8250";
    const fs::path coreDriver = sys / "bus" / "serial-base" / "drivers" / "port";
    fs::create_directories(portDev);
    fs::create_directories(driver);
    fs::create_directories(coreDriver);
    fs::create_directory_symlink(driver, platformDev / "driver");
    fs::create_directory_symlink(coreDriver, portDev / "driver");
    fs::create_directory_symlink(portDev, tty / "ttyS5" / "device");
    WriteFile(tty / "ttyS5" / "type", "0\n");
    EXPECT_FALSE(IsRealSerialDevice(ttyS5, sys));  // port type unknown: no UART
    WriteFile(tty / "ttyS5" / "type", "4\n");
    EXPECT_TRUE(IsRealSerialDevice(ttyS5, sys));
    EXPECT_EQ(SerialDeviceDescription(ttyS5, sys), "serial8250");

    // A USB adapter: interface name first, then the product name.
    const fs::path ttyUSB3 = dev / "ttyUSB3";
    fs::create_symlink(pty.SlavePath(), ttyUSB3);
    const fs::path usb = sys / "devices" / "pci0000:00" / "usb1" / "1-2";
    const fs::path iface = usb / "1-2:1.0";
    fs::create_directories(iface / "ttyUSB3");
    fs::create_directories(tty / "ttyUSB3");
    fs::create_directory_symlink(iface / "ttyUSB3", tty / "ttyUSB3" / "device");
    WriteFile(usb / "product", "FT232R USB UART\n");
    EXPECT_TRUE(IsRealSerialDevice(ttyUSB3, sys));
    EXPECT_EQ(SerialDeviceDescription(ttyUSB3, sys), "FT232R USB UART");
    // UTF-8 from the device becomes the program's code page; control characters become blanks.
    WriteFile(iface / "interface", "\xD0\x9F\xD0\xBE\xD1\x80\xD1\x82\tB\n");
    EXPECT_EQ(SerialDeviceDescription(ttyUSB3, sys), "\xCF\xEE\xF0\xF2 B");

    // Not a character device at all.
    WriteFile(dev / "ttyUSB9", "");
    EXPECT_FALSE(IsRealSerialDevice(dev / "ttyUSB9", sys));
    EXPECT_FALSE(IsRealSerialDevice("", sys));
}

}  // namespace
}  // namespace win
