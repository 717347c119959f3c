#include <cstdio>
#include <cstring>

#include "cli/Command.h"
#ifndef _WIN32
#include "cli/TextAgent.h"
#endif

namespace cli {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

void Register(const Command& command) { Registry().push_back(command); }
const std::vector<Command>& Commands() { return Registry(); }

}  // namespace cli

namespace {
void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: nullifex-cli COMMAND [ARGS]\n\ncommands:\n");
  for (const auto& c : cli::Commands()) std::fprintf(out, "  %s\n", c.usage);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
#ifndef _WIN32
  cli::UseTextAgentOnTerminal();
#endif
  for (const auto& c : cli::Commands()) {
    if (std::strcmp(c.name, argv[1]) == 0) {
      return c.run(std::vector<std::string>(argv + 2, argv + argc));
    }
  }
  std::fprintf(stderr, "nullifex-cli: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
