#include "base/out_of_memory.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace tarnvelox::base {

namespace {

// The new-handler cannot carry context, so the reporter is the one process-wide value here.
std::atomic<OutOfMemoryReporter> g_reporter{&report_out_of_memory_to_stderr};

[[noreturn]] void on_out_of_memory() {
    g_reporter.load()(kOutOfMemoryMessage);
    std::_Exit(kOutOfMemoryExitCode);
}

}  // namespace

void report_out_of_memory_to_stderr(std::string_view message) {
    // write(2) instead of iostreams: nothing here may allocate.
    ssize_t ignored = ::write(STDERR_FILENO, message.data(), message.size());
    (void)ignored;
}

void install_out_of_memory_handler(OutOfMemoryReporter reporter) {
    g_reporter.store(reporter != nullptr ? reporter : &report_out_of_memory_to_stderr);
    std::set_new_handler(&on_out_of_memory);
}

}  // namespace tarnvelox::base
