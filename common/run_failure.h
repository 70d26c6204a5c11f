// Failures that leave part of a run's work undone: an area not packed,
// linked or indexed, a file that could not be opened, written, renamed or
// deleted, a list or compiled file not written whole.
//
// Each is printed on the console as the programs have always printed it,
// written to the maintenance log when one is open (so a night's run leaves a
// record), and recorded for the exit status (RunFailed, program_frame.h).  A
// file whose absence is normal for a board (no MSGREPLY.BBS, no MSGCOUNT.BBS
// yet) is no failure: its message is printed without these routines.
#pragma once

#include <string>

// Prints `console` as it is and logs `log`: one line naming the file.
void ReportFailure(const std::string &console, const std::string &log);
// Prints `console`; the log line is the same text without its line breaks.
void ReportFailure(const std::string &console);
// "<system error text> <action> <file>\n" ("Permission denied opening
// C:\BBS\MESSAGES.VLM"), the message every program gives for a file.
void ReportFileFailure(int error, const char *action, const std::string &file);
