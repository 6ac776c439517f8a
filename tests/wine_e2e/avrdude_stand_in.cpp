// A stand-in for avrdude.exe, for the Wine test of how blockhost.exe finds
// avrdude and what it asks of it.  It writes the arguments it was given, one
// a line, to avrdude-arguments.txt beside itself, so that the test can tell
// which of several copies ran, and says on stderr what avrdude says after a
// good write and read-back, so that blockhost goes on as after a real one.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return 2;
  std::string record(self, length);
  record = record.substr(0, record.find_last_of('\\') + 1) + "avrdude-arguments.txt";
  std::FILE* file = std::fopen(record.c_str(), "wb");
  if (file == nullptr) return 2;
  for (int i = 1; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
  std::fclose(file);
  std::fprintf(stderr,
               "\navrdude: AVR device initialized and ready to accept instructions\n"
               "avrdude: device signature = 0x1e950f (probably m328p)\n"
               "avrdude: 1024 bytes of flash written\n"
               "avrdude: 1024 bytes of flash verified\n\n"
               "avrdude done.  Thank you.\n\n");
  return 0;
}
