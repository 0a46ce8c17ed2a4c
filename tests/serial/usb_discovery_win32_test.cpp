// USB discovery on the Windows registry itself (wine's, in the test runs):
// the driver's instance list and the devices' parameters are written here
// and removed again afterwards.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/usb_discovery.h"

namespace qor {
namespace {

const std::wstring kList = L"SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";
const std::wstring kEnum = L"SYSTEM\\CurrentControlSet\\Enum\\";
const std::wstring kImagers = L"USB\\VID_3C7B&PID_0E52";
const std::wstring kOthers = L"USB\\VID_1A86&PID_7523";

// Keys written below HKEY_LOCAL_MACHINE, removed with all they hold when the
// object goes (and before, should an earlier run have left any).
class RegistryKeys {
  public:
    RegistryKeys() { removeAll(); }
    ~RegistryKeys() { removeAll(); }
    RegistryKeys(const RegistryKeys&) = delete;
    RegistryKeys& operator=(const RegistryKeys&) = delete;

    void setString(const std::wstring& path, const std::wstring& name, const std::wstring& text) {
        set(path, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
    void setDword(const std::wstring& path, const std::wstring& name, DWORD value) {
        set(path, name, REG_DWORD, &value, sizeof(value));
    }

    // An instance listed by the driver as value `name`, with its port name.
    void addDevice(const std::wstring& name, const std::wstring& instance,
                   const std::wstring& port) {
        setString(kList, name, instance);
        if (!port.empty()) {
            setString(kEnum + instance + L"\\Device Parameters", L"PortName", port);
        }
    }

  private:
    void set(const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
             size_t bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS)
            << "cannot create a key: is this the test prefix?";
        EXPECT_EQ(::RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                                   static_cast<DWORD>(bytes)),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    static void removeAll() {
        for (const std::wstring& path : {kList, kEnum + kImagers, kEnum + kOthers}) {
            ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        }
    }
};

std::wstring imager(int n) {
    return kImagers + L"\\7&2A1F&0&" + std::to_wstring(n);
}

class WindowsRegistry : public ::testing::Test {
  protected:
    RegistryKeys keys;
    std::unique_ptr<RegistryReader> registry = openSystemRegistry();
    PortNameTable table;
};

TEST_F(WindowsRegistry, NoListNoImagers) {
    EXPECT_EQ(CountUsbDevices(*registry), 0);
    EXPECT_EQ(CollectUsbPorts(*registry, table), 0);
    EXPECT_EQ(table, PortNameTable{});
}

TEST_F(WindowsRegistry, NineImagersAmongOtherDevicesCountNineAndEightAreGathered) {
    // Values as the driver lists them: the instances by number, another
    // vendor's device among them, and its bookkeeping numbers.
    int port = 1;
    for (int n = 0; n < 10; ++n) {
        if (n == 3) {
            keys.addDevice(std::to_wstring(n), kOthers + L"\\5&99", L"COM40");
        } else {
            keys.addDevice(std::to_wstring(n), imager(n), L"COM" + std::to_wstring(port++));
        }
    }
    keys.setDword(kList, L"Count", 10);
    keys.setDword(kList, L"NextInstance", 10);

    EXPECT_EQ(CountUsbDevices(*registry), 9);
    EXPECT_EQ(CollectUsbPorts(*registry, table), 8);
    EXPECT_EQ(table,
              (PortNameTable{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
}

TEST_F(WindowsRegistry, AnImagerWithoutParametersFailsTheCollectAfterTheOnesBefore) {
    keys.addDevice(L"0", imager(0), L"COM7");
    keys.addDevice(L"1", imager(1), L"");
    keys.addDevice(L"2", imager(2), L"COM9");

    EXPECT_EQ(CountUsbDevices(*registry), 3);
    EXPECT_EQ(CollectUsbPorts(*registry, table), 0);
    EXPECT_EQ(table, (PortNameTable{"COM7"}));
    // The listing keeps every imager, named by its instance's last part.
    EXPECT_EQ(ListUsbImagers(*registry),
              (std::vector<UsbImager>{
                  {"7&2A1F&0&0", "COM7"}, {"7&2A1F&0&1", ""}, {"7&2A1F&0&2", "COM9"}}));
}

TEST_F(WindowsRegistry, APortNameWithoutComCountsButLeavesItsEntry) {
    keys.addDevice(L"0", imager(0), L"LPT1");
    keys.addDevice(L"1", imager(1), L"COM12");
    table[0] = "COM5";

    EXPECT_EQ(CollectUsbPorts(*registry, table), 2);
    EXPECT_EQ(table, (PortNameTable{"COM5", "COM12"}));
}

}  // namespace
}  // namespace qor
