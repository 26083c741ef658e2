// What tolvan tells the operator when a run ends: sizes and times in Brazilian form, and a
// failure's message as lines under one heading.
#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tolvan::cli {

// "512 bytes", "1,5 KB", "31,2 MB", "2,0 GB" (powers of 1024, one decimal, decimal comma).
std::string FormatSize(std::uint64_t bytes);

// "0,4 s", "4,1 s", "2 min 05 s", "1 h 02 min".
std::string FormatDuration(std::chrono::duration<double> elapsed);

// "menos de 1 min" below a minute, else "~2 min 05 s", "~1 h 02 min".
std::string FormatTimeLeft(std::chrono::duration<double> left);

// "7", "12.345", "1.000.000": a count with the dot between thousands.
std::string FormatCount(std::uint64_t count);

// A message's lines (CR LF, LF or CR ends a line), without trailing blanks and without empty
// lines. Lines that gbak marks as errors ("ERROR:") come first, in their order, then the others.
std::vector<std::string> MessageLines(const std::string& message);

// A Portuguese line that says what to do, for each failure operators meet most that the text
// (a server's or a tool's message, in its own language) shows: a password refused or missing,
// a database or backup file that is not there, a restore target that exists, a server that does
// not answer.
std::vector<std::string> OperatorHints(const std::string& said);

// "erro:", the operator's hints for the message and the lines seen, and the message's lines
// indented under it, each ended by "\n"; the lines the operator has seen already (the tool's,
// printed as they came) are left out, with a line that points to them when the reason was among
// them.
std::string ErrorBlock(const std::string& message, const std::set<std::string>& seen = {});

}  // namespace tolvan::cli
