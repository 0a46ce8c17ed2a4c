#pragma once

#include <string>
#include <vector>

namespace qor {

// Readies the process for a run: a reader of the output that goes away (a
// pipe into `head`) must not end the process in the middle of an update.
void prepareProcess();

// True when standard output is a terminal that takes the cursor controls of
// the progress display (on Windows, once it has been asked to).
bool stdoutIsTerminal();

// The command line's arguments as UTF-8, without the program's name. On
// Windows `argv` is in the ANSI code page, so the wide command line is read
// instead.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The printable update barcode installed with this program (PNG), as the
// user would type its path; empty when it is not there.
std::string printableBarcodePath();

}  // namespace qor
