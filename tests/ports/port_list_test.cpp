// The COM-number mapping and the port list against made-up devices: an Uno
// on ttyACM0, a CH340 clone on ttyUSB0, on-board ttyS with and without a
// UART, and numbers given by the environment.
#include "tool_api/port_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <umockdev.h>

#include <string>
#include <vector>

#include "tool_api/port_names.h"

namespace arduino {
namespace {

class PortListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* preload = getenv("LD_PRELOAD");
    ASSERT_TRUE(preload && std::string(preload).find("libumockdev-preload") != std::string::npos)
        << "run under umockdev-wrapper, which ctest does";
    testbed_ = umockdev_testbed_new();
  }
  void TearDown() override {
    for (const std::string& name : variables_) unsetenv(name.c_str());
    if (testbed_) g_object_unref(testbed_);
  }

  void AddDevices(const char* file) {
    GError* error = nullptr;
    const std::string path = std::string(DEVICES_DIR) + "/" + file;
    ASSERT_TRUE(umockdev_testbed_add_from_file(testbed_, path.c_str(), &error))
        << path << ": " << (error ? error->message : "?");
  }
  void MapInEnvironment(int port, const std::string& device) {
    const std::string name = "ARDUINO_BLOCK_COM" + std::to_string(port);
    setenv(name.c_str(), device.c_str(), 1);
    variables_.push_back(name);
  }
  static const SerialPortInfo* Find(const std::vector<SerialPortInfo>& list,
                                    const std::string& device, int32_t com_port) {
    for (const SerialPortInfo& port : list) {
      if (port.device == device && port.com_port == com_port) return &port;
    }
    return nullptr;
  }

  UMockdevTestbed* testbed_ = nullptr;
  std::vector<std::string> variables_;
};

TEST_F(PortListTest, AnUnoOnTtyAcm0IsCom1WithItsUsbDetails) {
  AddDevices("uno_ttyACM0.umockdev");
  EXPECT_EQ(ComPortDevice(1), "/dev/ttyACM0");
  EXPECT_EQ(ComPortDevice(2), "");
  const std::vector<SerialPortInfo> list = ListSerialPorts();
  ASSERT_EQ(list.size(), 1u);
  const SerialPortInfo& uno = list[0];
  EXPECT_EQ(uno.com_port, 1);
  EXPECT_EQ(uno.device, "/dev/ttyACM0");
  EXPECT_EQ(uno.mapped_by, "ttyACM0");
  ASSERT_TRUE(uno.usb);
  EXPECT_EQ(uno.vendor_id, 0x2341);
  EXPECT_EQ(uno.product_id, 0x0043);
  EXPECT_EQ(uno.manufacturer, "Arduino (www.arduino.cc)");
  EXPECT_EQ(uno.product, "Arduino Uno");
  EXPECT_EQ(uno.serial_number, "75735353038351F0E1C1");
  EXPECT_EQ(uno.likely_board, "Arduino Uno");
  EXPECT_EQ(uno.note, "");
}

TEST_F(PortListTest, ACh340CloneOnTtyUsb0IsMarkedAsALikelyBoard) {
  AddDevices("ch340_ttyUSB0.umockdev");
  EXPECT_EQ(ComPortDevice(1), "/dev/ttyUSB0");
  const std::vector<SerialPortInfo> list = ListSerialPorts();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].com_port, 1);
  EXPECT_EQ(list[0].vendor_id, 0x1A86);
  EXPECT_EQ(list[0].product_id, 0x7523);
  EXPECT_EQ(list[0].manufacturer, "") << "the clone names no maker";
  EXPECT_EQ(list[0].serial_number, "");
  EXPECT_NE(list[0].likely_board.find("CH340"), std::string::npos) << list[0].likely_board;
}

// An FTDI bridge's driver keeps its latency timer beside the port; it is
// read with the list and set where the list says it is.  Other ports have
// none.
TEST_F(PortListTest, AnFtdiBridgesLatencyTimerIsReadAndSet) {
  AddDevices("ftdi_ttyUSB0.umockdev");
  AddDevices("uno_ttyACM0.umockdev");
  std::vector<SerialPortInfo> list = ListSerialPorts();
  const SerialPortInfo* ftdi = Find(list, "/dev/ttyUSB0", 0);
  ASSERT_NE(ftdi, nullptr);
  EXPECT_EQ(ftdi->latency_timer_ms, 16);
  EXPECT_TRUE(ftdi->latency_place.ends_with("/2-4:1.0/ttyUSB0/latency_timer"))
      << ftdi->latency_place;
  const LatencyChange change = SetLatencyTimer(*ftdi, 1);
  EXPECT_TRUE(change.done) << change.error;
  list = ListSerialPorts();
  ASSERT_NE(Find(list, "/dev/ttyUSB0", 0), nullptr);
  EXPECT_EQ(Find(list, "/dev/ttyUSB0", 0)->latency_timer_ms, 1);

  const SerialPortInfo* uno = Find(list, "/dev/ttyACM0", 1);
  ASSERT_NE(uno, nullptr);
  EXPECT_EQ(uno->latency_timer_ms, 0);
  const LatencyChange none = SetLatencyTimer(*uno, 1);
  EXPECT_FALSE(none.done);
  EXPECT_EQ(none.error, "the port has no latency timer");
}

TEST_F(PortListTest, OnlyTtySWithAUartCount) {
  AddDevices("ttyS_onboard.umockdev");  // ttyS0 has a 16550A, ttyS1 nothing
  EXPECT_EQ(ComPortDevice(1), "/dev/ttyS0");
  EXPECT_EQ(ComPortDevice(2), "") << "the block must not open a ttyS without a UART";
  const std::vector<SerialPortInfo> list = ListSerialPorts();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].device, "/dev/ttyS0");
  EXPECT_EQ(list[0].com_port, 1);
  EXPECT_FALSE(list[0].usb);
  EXPECT_EQ(list[0].likely_board, "");
}

TEST_F(PortListTest, TtyAcmComesBeforeTtyUsbWhichIsThenReachedOnlyByTheEnvironment) {
  AddDevices("uno_ttyACM0.umockdev");
  AddDevices("ch340_ttyUSB0.umockdev");
  EXPECT_EQ(ComPortDevice(1), "/dev/ttyACM0");
  std::vector<SerialPortInfo> list = ListSerialPorts();
  ASSERT_EQ(list.size(), 2u);
  ASSERT_NE(Find(list, "/dev/ttyACM0", 1), nullptr);
  const SerialPortInfo* clone = Find(list, "/dev/ttyUSB0", 0);
  ASSERT_NE(clone, nullptr) << "a device no number reaches is listed all the same";
  EXPECT_NE(clone->note.find("COM1 is /dev/ttyACM0"), std::string::npos) << clone->note;
  EXPECT_NE(clone->note.find("ARDUINO_BLOCK_COM<n>=/dev/ttyUSB0"), std::string::npos);

  MapInEnvironment(4, "/dev/ttyUSB0");
  EXPECT_EQ(ComPortDevice(4), "/dev/ttyUSB0");
  list = ListSerialPorts();
  ASSERT_EQ(list.size(), 2u) << "the mapped clone is no longer left over";
  const SerialPortInfo* mapped = Find(list, "/dev/ttyUSB0", 4);
  ASSERT_NE(mapped, nullptr);
  EXPECT_EQ(mapped->mapped_by, "ARDUINO_BLOCK_COM4");
  EXPECT_EQ(mapped->vendor_id, 0x1A86) << "the details follow the device, not the name";
  EXPECT_EQ(mapped->note, "");
}

TEST_F(PortListTest, TheEnvironmentComesFirstAndNamesAnyDevice) {
  AddDevices("uno_ttyACM0.umockdev");
  MapInEnvironment(1, "/tmp/some-pty-link");
  MapInEnvironment(5, "/dev/ttyACM0");
  EXPECT_EQ(ComPortDevice(1), "/tmp/some-pty-link");
  EXPECT_EQ(ComPortDevice(5), "/dev/ttyACM0");
  const std::vector<SerialPortInfo> list = ListSerialPorts();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].com_port, 1);
  EXPECT_EQ(list[0].device, "/tmp/some-pty-link");
  EXPECT_EQ(list[0].mapped_by, "ARDUINO_BLOCK_COM1");
  EXPECT_EQ(list[0].note, "no such device");
  EXPECT_EQ(list[1].com_port, 5);
  EXPECT_EQ(list[1].likely_board, "Arduino Uno");
}

TEST(LikelyBoardTest, KnownIdsNameTheBoardAndOthersNothing) {
  const struct {
    uint16_t vendor;
    uint16_t product;
    const char* board;
  } kIds[] = {
      {0x2341, 0x0043, "Arduino Uno"},
      {0x2A03, 0x0042, "Arduino Mega 2560"},
      {0x2341, 0x0042, "Arduino Mega 2560"},
      // The genuine Nano's bridge, and its clones': a Nano most likely,
      // though a clone of another board carries them too.
      {0x0403, 0x6001, "Arduino Nano or a clone (FTDI FT232R USB serial)"},
      {0x1A86, 0x7523, "Arduino Nano or a clone (CH340 USB serial)"},
      {0x1D6B, 0x0002, ""},
      {0x2341, 0x7523, ""},  // vendor and product go together
  };
  for (const auto& id : kIds) {
    EXPECT_EQ(LikelyBoard(id.vendor, id.product), id.board)
        << std::hex << id.vendor << ":" << id.product;
  }
}

}  // namespace
}  // namespace arduino
