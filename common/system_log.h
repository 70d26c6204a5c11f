// The maintenance log: a text file appended to by every run.
#pragma once

#include <cstdio>
#include <string>

extern FILE *hSystemLog;

int OpenSystemLog(const std::string &name);
void WriteSystemLog(const std::string &text);
void CloseSystemLog();
