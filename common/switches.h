// Switch lookup over the process arguments.
//
// A switch is "-" or "/" followed by its name, a value attached directly
// ("-NODE5").  Names match ignoring case, by prefix: a test for LINK is also
// true for -LINKALL, so callers with such names must allow for it.
#pragma once

#include <string>
#include <vector>

// Records the process arguments (argument 0 is never examined).  Called by the
// program frame; tests call it to set up an argument list.
void SetArguments(int argc, const char *const *argv);

int FindParam(const std::string &prefix);
std::string &GetParam(const std::string &prefix, std::string &value);
int FindMinusSlashParam(const std::string &name);
std::string &GetMinusSlashParam(const std::string &name, std::string &value);

// The node switch: -NODE<n>, or the short form -N<n> with digits only that
// sorrel's help shows ("SORREL -LINK -N2").  Either may be written with "/";
// a NODE value wins over an N value.
std::string &GetNodeParam(std::string &value);

// A help switch is given: -? or /? (by prefix, like every switch), or one of
// -h, /h, -help, /help, --help exactly (ignoring case).
int FindHelpParam();

// The arguments beginning with "-" or "/" that no switch of the program
// accepts: neither one of `names` under the prefix rule (in either form),
// nor the node switch, nor a help switch.  Arguments without a switch
// character are no switches and never refused.
std::vector<std::string> UnknownSwitches(const std::vector<std::string> &names);
