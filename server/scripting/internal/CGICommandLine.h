#pragma once

#include <string>
#include <vector>

// How a CGI command line becomes a program and its arguments, without a
// shell. Internal to the CGI runner.

// Splits a command line into the program and its arguments: the command part
// is split on blanks and tabs; when the line ends in " " + scriptPath, the
// script path is one argument of its own, whatever blanks it holds.
std::vector<std::string> splitCGICommandLine(const char* commandLine, const char* scriptPath);

// Finds a program: a name with a '/' is taken as it is, otherwise it is
// looked up in the server's PATH. Returns "" when there is no such program.
std::string findCGIProgram(const std::string& name);
