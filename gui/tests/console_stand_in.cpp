// Stands in for the console program beside the front end in tests: appends
// its arguments as one line to the file TW_STAND_IN_RECORD, waits
// TW_STAND_IN_SLEEP_MS, writes TW_STAND_IN_STDERR (when set) and a line end
// to standard error, and ends with the exit code TW_STAND_IN_EXIT (0 when
// unset).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (const char* record = std::getenv("TW_STAND_IN_RECORD")) {
    std::ofstream out(record, std::ios::app);
    // The front end's command line on Windows holds the options alone, so the
    // first of them arrives as argv[0]; elsewhere argv[0] is the program.
    const int first = argc > 0 && argv[0][0] == '-' ? 0 : 1;
    for (int i = first; i < argc; ++i) out << (i > first ? "|" : "") << argv[i];
    out << "\n";
  }
  if (const char* ms = std::getenv("TW_STAND_IN_SLEEP_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(ms)));
  }
  if (const char* text = std::getenv("TW_STAND_IN_STDERR")) std::fprintf(stderr, "%s\n", text);
  const char* code = std::getenv("TW_STAND_IN_EXIT");
  return code ? std::atoi(code) : 0;
}
