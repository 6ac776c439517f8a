// `blockhost ports`: the serial ports by the COM numbers the block gives
// them, with what USB says about each, so a user can tell which number to
// put in the block's dialog.
#include <cstdio>
#include <optional>
#include <string>

#include "commands.h"
#include "errors.h"
#include "flash_plan.h"
#include "link_text.h"
#include "tool_api/port_holders.h"
#include "tool_api/port_list.h"
#include "tool_command_line.h"

namespace blockhost {
namespace {

std::string Hex4(uint16_t value) {
  char text[5];
  snprintf(text, sizeof text, "%04x", value);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char byte : text) {
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20) {
      char escape[7];
      snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out + "\"";
}

std::string JsonOptional(const std::string& text) {
  return text.empty() ? "null" : JsonString(text);
}

std::string JsonHolder(const std::optional<arduino::PortHolder>& holder) {
  if (!holder) return "null";
  return "{\"pid\": " + std::to_string(holder->pid) +
         ", \"program\": " + JsonOptional(holder->program) +
         ", \"lock_file\": " + JsonOptional(holder->lock_file) + "}";
}

void PrintJson(const std::vector<arduino::SerialPortInfo>& ports) {
  printf("[");
  for (size_t i = 0; i < ports.size(); ++i) {
    const arduino::SerialPortInfo& p = ports[i];
    printf("%s\n  {\"com\": %s, \"name\": %s, \"device\": %s, \"mapped_by\": %s,", i ? "," : "",
           p.com_port ? std::to_string(p.com_port).c_str() : "null",
           p.com_port ? JsonString(ComPortName(p.com_port)).c_str() : "null",
           JsonString(p.device).c_str(), JsonOptional(p.mapped_by).c_str());
    printf(" \"friendly_name\": %s, \"hardware_id\": %s,", JsonOptional(p.friendly_name).c_str(),
           JsonOptional(p.hardware_id).c_str());
    if (p.usb) {
      printf(
          " \"usb\": {\"vendor_id\": \"%s\", \"product_id\": \"%s\", \"manufacturer\": %s,"
          " \"product\": %s, \"serial_number\": %s},",
          Hex4(p.vendor_id).c_str(), Hex4(p.product_id).c_str(),
          JsonOptional(p.manufacturer).c_str(), JsonOptional(p.product).c_str(),
          JsonOptional(p.serial_number).c_str());
    } else {
      printf(" \"usb\": null,");
    }
    printf(" \"latency_timer_ms\": %s,",
           p.latency_timer_ms ? std::to_string(p.latency_timer_ms).c_str() : "null");
    printf(" \"likely_arduino\": %s, \"likely_board\": %s, \"note\": %s, \"held_by\": %s}",
           p.likely_board.empty() ? "false" : "true", JsonOptional(p.likely_board).c_str(),
           JsonOptional(p.note).c_str(), JsonHolder(arduino::FindPortHolder(p.device)).c_str());
  }
  printf("%s]\n", ports.empty() ? "" : "\n");
}

void PrintText(const std::vector<arduino::SerialPortInfo>& ports) {
  if (ports.empty()) {
    printf("no serial ports found; is the board plugged in?\n");
    return;
  }
  for (const arduino::SerialPortInfo& p : ports) {
    const std::string name = p.com_port ? ComPortName(p.com_port) : "(none)";
    printf("%-7s %s", name.c_str(), p.device.c_str());
    if (!p.mapped_by.empty() && p.mapped_by != p.device.substr(p.device.rfind('/') + 1)) {
      printf("  (by %s)", p.mapped_by.c_str());
    }
    if (!p.likely_board.empty()) printf("  <- likely %s", p.likely_board.c_str());
    printf("\n");
    if (!p.friendly_name.empty()) printf("        %s\n", p.friendly_name.c_str());
    if (p.usb) {
      std::string details = "USB " + Hex4(p.vendor_id) + ":" + Hex4(p.product_id);
      for (const std::string* part : {&p.manufacturer, &p.product}) {
        if (!part->empty()) details += "  " + *part;
      }
      if (!p.serial_number.empty()) details += "  serial " + p.serial_number;
      printf("        %s\n", details.c_str());
    } else if (!p.hardware_id.empty()) {
      printf("        %s\n", p.hardware_id.c_str());
    }
    if (!p.likely_board.empty() && !BoardFromUsbName(p.likely_board)) {
      // A Nano's bridge, or a clone's: the board behind it, and on a Nano
      // the bootloader's speed, are for the user to say.
      printf(
          "        flash cannot tell the board from the port: give it --board nano, or\n"
          "        nano-old for the old bootloader (most clones), uno or mega2560\n");
    }
    if (p.latency_timer_ms > 0) {
      printf("        FTDI latency timer %d ms", p.latency_timer_ms);
      if (p.latency_timer_ms > 1 && p.com_port > 0) {
        printf(" (`blockhost latency --comport %d 1` lowers it)", p.com_port);
      }
      printf("\n");
    }
    if (!p.note.empty()) printf("        note: %s\n", p.note.c_str());
    if (std::optional<arduino::PortHolder> holder = arduino::FindPortHolder(p.device)) {
      printf("        held by %s\n", arduino::DescribePortHolder(*holder).c_str());
    }
  }
}

int PortsCommand(const CommandLine& line) {
  const std::vector<arduino::SerialPortInfo> ports = arduino::ListSerialPorts();
  if (line.json) {
    PrintJson(ports);
  } else {
    PrintText(ports);
  }
  return kExitOk;
}

void AddPortsOptions(CLI::App* command, CommandLine* line) {
  command->add_flag("--json", line->json, "print the list as a JSON array")
      ->disable_flag_override();
}

}  // namespace

const Command kPortsCommand = {"ports", "usage: blockhost ports [--json]\n",
                               "the serial ports by COM number, with\ntheir USB details",
                               AddPortsOptions, PortsCommand};

}  // namespace blockhost
