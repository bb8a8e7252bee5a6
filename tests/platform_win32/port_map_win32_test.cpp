// The port list from the registry. The test rewrites HKLM\HARDWARE\DEVICEMAP\SERIALCOMM of its
// own Wine prefix and puts back what was there.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/port_map.h"

namespace lumivex::platform {
namespace {

const wchar_t kKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct Value {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> data;
};

std::vector<Value> SaveKey() {
  std::vector<Value> values;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD nameLength = 512;
    BYTE data[1024];
    DWORD dataBytes = sizeof data;
    DWORD type = 0;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataBytes) !=
        ERROR_SUCCESS) {
      break;
    }
    values.push_back({std::wstring(name, nameLength), type, {data, data + dataBytes}});
  }
  RegCloseKey(key);
  return values;
}

void WriteKey(const std::vector<Value>& values) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (const Value& v : values) {
    ASSERT_EQ(RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.data(),
                             static_cast<DWORD>(v.data.size())),
              ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

Value Text(const std::wstring& name, const std::wstring& text) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {name, REG_SZ, {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)}};
}

std::vector<std::pair<int, std::string>> Listed() {
  std::vector<std::pair<int, std::string>> listed;
  for (const PortMapEntry& entry : ReadPortMap()) listed.emplace_back(entry.number, entry.device);
  return listed;
}

class SerialCommKey : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = SaveKey();
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
  }
  void TearDown() override {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    if (!saved_.empty()) WriteKey(saved_);
  }

 private:
  std::vector<Value> saved_;
};

TEST_F(SerialCommKey, NoKeyOrAnEmptyKeyListsNoPort) {
  EXPECT_TRUE(ReadPortMap().empty());
  WriteKey({});
  EXPECT_TRUE(ReadPortMap().empty());
}

TEST_F(SerialCommKey, PortsComeInAscendingNumberAndWhatIsNotAPortNameIsSkipped) {
  const DWORD five = 5;
  const BYTE* fiveBytes = reinterpret_cast<const BYTE*>(&five);
  WriteKey({
      Text(L"\\Device\\Serial2", L"COM12"),
      Text(L"\\Device\\Serial0", L"COM3"),
      Text(L"\\Device\\VCP0", L"com7"),
      Text(L"\\Device\\Serial1", L"COM3"),  // the same port twice is listed once
      Text(L"lpt", L"LPT1"),
      Text(L"zero", L"COM0"),
      Text(L"leading zero", L"COM07"),
      Text(L"too big", L"COM255"),
      Text(L"letters", L"COM1x"),
      Text(L"empty", L""),
      Text(L"path", L"\\\\.\\COM4"),
      Text(L"long", L"COM5 is where the board was last week"),
      {L"number", REG_DWORD, {fiveBytes, fiveBytes + sizeof five}},
      Text(L"largest", L"COM254"),
  });
  const std::vector<std::pair<int, std::string>> expected = {
      {3, "\\\\.\\COM3"}, {7, "\\\\.\\COM7"}, {12, "\\\\.\\COM12"}, {254, "\\\\.\\COM254"}};
  EXPECT_EQ(Listed(), expected);
}

TEST(PortMap, AnyPortNumberNamesItsDeviceListedOrNot) {
  EXPECT_EQ(DeviceForPort(1), "\\\\.\\COM1");
  EXPECT_EQ(DeviceForPort(12), "\\\\.\\COM12");
  EXPECT_EQ(DeviceForPort(254), "\\\\.\\COM254");
  EXPECT_FALSE(DeviceForPort(0).has_value());
  EXPECT_FALSE(DeviceForPort(255).has_value());
}

// What `wine reg add` registered for the harness's board is listed.
TEST(PortMap, ThePortRegisteredForTheBoardIsListed) {
  const char* value = std::getenv("LUMIVEX_TEST_REGISTERED_PORT");
  if (value == nullptr) GTEST_SKIP() << "no registered board: run through run_under_wine.sh";
  const int number = std::atoi(value);
  bool found = false;
  for (const PortMapEntry& entry : ReadPortMap()) {
    if (entry.number == number) found = entry.device == "\\\\.\\COM" + std::to_string(number);
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace lumivex::platform
