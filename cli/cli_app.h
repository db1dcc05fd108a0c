// gleaner-cli: argument parsing, one core call per command, printing. Runs
// in-process for the tests.
#pragma once
#include <ostream>
#include <string>
#include <vector>

// Exit codes: 0 the command ran, 1 a node or drive could not be found or
// bound, 2 a usage error.
int RunCli(const std::vector<std::string>& args, const std::string& programFolder,
           std::ostream& out, std::ostream& err);
