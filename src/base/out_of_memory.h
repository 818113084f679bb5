#pragma once

// The program's answer to running out of memory. Every allocation goes through operator new;
// install_out_of_memory_handler() makes a failed allocation show "Out of memory Error\n" through
// the reporter (the front end's error box) and end the process with exit code 1, so no caller
// ever checks an allocation by hand. Call it once at start-up, before any other work.

#include <string_view>

namespace tarnvelox::base {

inline constexpr std::string_view kOutOfMemoryMessage = "Out of memory Error\n";
inline constexpr int kOutOfMemoryExitCode = 1;

// Shows the message to the person; must not allocate (it runs with no memory left).
using OutOfMemoryReporter = void (*)(std::string_view message);

// Writes the message to standard error; the reporter used until a front end installs its own.
void report_out_of_memory_to_stderr(std::string_view message);

// Installs the new-handler. Passing nullptr keeps the standard-error reporter.
void install_out_of_memory_handler(OutOfMemoryReporter reporter = nullptr);

}  // namespace tarnvelox::base
