#pragma once
#include <string>
#include <vector>

// nullifex-cli's subcommands. Each lives in a file of its own and registers
// itself with a static NFX_CLI_COMMAND; main() dispatches by name.
namespace cli {

struct Command {
  const char* name;
  const char* usage;    // one line, shown by `nullifex-cli help`
  int (*run)(const std::vector<std::string>& args);  // args after the name
};

void Register(const Command& command);
const std::vector<Command>& Commands();

struct Registrar {
  explicit Registrar(const Command& command) { Register(command); }
};

}  // namespace cli

#define NFX_CLI_COMMAND(id, name, usage, fn) \
  static ::cli::Registrar nfx_cli_registrar_##id{::cli::Command{name, usage, fn}};
