// Switch lookup over the process arguments.
//
// A switch is "-" or "/" followed by its name, a value attached directly
// ("-NODE5").  Names match ignoring case, by prefix: a test for LINK is also
// true for -LINKALL, so callers with such names must allow for it.
#pragma once

#include <string>

// Records the process arguments (argument 0 is never examined).  Called by the
// program frame; tests call it to set up an argument list.
void SetArguments(int argc, const char *const *argv);

int FindParam(const std::string &prefix);
std::string &GetParam(const std::string &prefix, std::string &value);
int FindMinusSlashParam(const std::string &name);
std::string &GetMinusSlashParam(const std::string &name, std::string &value);
