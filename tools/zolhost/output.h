// Console output of zolhost: one line at a time, flushed at once, so that a person or a test
// reading the output sees every event as it happens.
#ifndef ZOL_TOOLS_ZOLHOST_OUTPUT_H
#define ZOL_TOOLS_ZOLHOST_OUTPUT_H

#include <string>

namespace zol::host {

// Starts the clock of the event timestamps.
void InitOutput();

// A line on stdout.
void PrintLine(const std::string& line);

// A line on stdout after the seconds since start: "[   1.234] key F1 0".
void PrintEvent(const std::string& line);

// A line on stderr: "zolhost: <text>".
void PrintError(const std::string& text);

// Text from the driver made fit for one UTF-8 output line: read as UTF-8 or else Latin-1,
// control characters written as \xHH.
std::string Printable(const std::string& text);

}  // namespace zol::host

#endif  // ZOL_TOOLS_ZOLHOST_OUTPUT_H
