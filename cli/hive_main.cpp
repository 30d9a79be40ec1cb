// modemprefix for Linux: the console companion on an offline SYSTEM hive file.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/hive_front.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  ReportText out, err;
  const int code = RunModemPrefixOnHive(args, out, err);
  std::fwrite(out.str().data(), 1, out.str().size(), stdout);
  std::fflush(stdout);
  std::fwrite(err.str().data(), 1, err.str().size(), stderr);
  return code;
}
