// Switch lookup: prefix matching ignoring case, and which argument supplies
// a value when several match.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "switches.h"

namespace {

void Args(const std::vector<std::string> &args) {
  std::vector<const char *> argv{"prog"};
  for (const std::string &a : args) argv.push_back(a.c_str());
  SetArguments(static_cast<int>(argv.size()), argv.data());
}

std::string Value(const std::string &name) {
  std::string v = "stale";
  return GetMinusSlashParam(name, v);
}

TEST(Switches, NamesMatchByPrefixIgnoringCase) {
  Args({"-LINKALL", "/?X"});
  EXPECT_EQ(FindMinusSlashParam("LINK"), 1);
  EXPECT_EQ(FindMinusSlashParam("linkall"), 1);
  EXPECT_EQ(FindMinusSlashParam("?"), 1);
  EXPECT_EQ(FindMinusSlashParam("LINKALLX"), 0) << "an argument shorter than the prefix never matches";
  EXPECT_EQ(FindParam("/LINK"), 0);

  for (const char *arg : {"-node5", "/Node5", "-NODE5"}) {
    Args({arg});
    EXPECT_EQ(Value("NODE"), "5") << arg;
  }
  Args({"-COMPILEsurvey.q"});
  EXPECT_EQ(Value("COMPILE"), "survey.q") << "the value keeps its case";
}

TEST(Switches, FirstArgumentWithAValueWinsAndMinusBeatsSlash) {
  Args({"-NODE", "5"});
  EXPECT_EQ(Value("NODE"), "") << "a blank after the name gives no value";
  EXPECT_EQ(FindMinusSlashParam("NODE"), 1);

  Args({"-NODE3", "-NODE5"});
  EXPECT_EQ(Value("NODE"), "3");
  Args({"/NODE3", "-NODE5"});
  EXPECT_EQ(Value("NODE"), "5");
  Args({"-NODE", "-NODE7"});
  EXPECT_EQ(Value("NODE"), "7");

  // GetParam alone accepts only the prefix it is given.
  Args({"/FROM3"});
  std::string v;
  EXPECT_EQ(GetParam("-FROM", v), "");
}

TEST(Switches, NoArgumentsMeansNothingFoundAndEmptyValues) {
  Args({});
  EXPECT_EQ(FindParam("-"), 0);
  EXPECT_EQ(FindMinusSlashParam("?"), 0);
  EXPECT_EQ(Value("NODE"), "");
}

// What a program accepts before start-up: its names by prefix in either
// form, the node switch and the help switches; any other argument with a
// switch character is refused, bare words never are.
TEST(Switches, UnknownSwitchesAreThoseNoNameAcceptsInEitherForm) {
  const std::vector<std::string> names{"LINK", "FROM"};
  Args({"-LINKALL", "/link", "/FROM5", "-NODE5", "/node", "-N2", "/n12", "-?x", "bare", "5", "-h", "--HELP", "/Help"});
  EXPECT_EQ(UnknownSwitches(names), std::vector<std::string>{});
  Args({"-LINKALL", "-LIN", "-BIULD", "-N", "-NX2", "-N2X", "-", "/", "-HX", "--LINK", "-help2", "-LINK"});
  EXPECT_EQ(UnknownSwitches(names),
            (std::vector<std::string>{"-LIN", "-BIULD", "-N", "-NX2", "-N2X", "-", "/", "-HX", "--LINK", "-help2"}));
}

TEST(Switches, NodeSwitchLongOrShortAndHelpSwitches) {
  std::string v = "stale";
  for (const auto &[args, node] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-N2"}, "2"}, {{"/n12"}, "12"}, {{"-N2", "-NODE3"}, "3"}, {{"/N4", "-N5"}, "5"}, {{"-NX", "-N"}, ""}}) {
    Args(args);
    EXPECT_EQ(GetNodeParam(v), node) << args[0];
  }
  for (const auto &[arg, help] : std::vector<std::pair<std::string, int>>{
           {"-?", 1}, {"/?x", 1}, {"-h", 1}, {"/H", 1}, {"-HELP", 1}, {"/help", 1}, {"--help", 1},
           {"-hx", 0}, {"-helpme", 0}, {"help", 0}, {"h", 0}, {"---help", 0}}) {
    Args({"-LINK", arg});
    EXPECT_EQ(FindHelpParam(), help) << arg;
  }
}

}  // namespace
