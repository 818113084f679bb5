#include "base/out_of_memory.h"

#include <gtest/gtest.h>

#include <limits>
#include <new>

namespace tarnvelox::base {
namespace {

void report_to_stderr_marked(std::string_view message) {
    report_out_of_memory_to_stderr("[box] ");
    report_out_of_memory_to_stderr(message);
}

TEST(OutOfMemoryDeathTest, FailedAllocationShowsTheMessageAndExitsWithOne) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's operator new does not call the new-handler";
#endif
    EXPECT_EXIT(
        {
            install_out_of_memory_handler(&report_to_stderr_marked);
            void* p = ::operator new(std::numeric_limits<std::size_t>::max() / 2);
            ::operator delete(p);
        },
        ::testing::ExitedWithCode(1), "\\[box\\] Out of memory Error");
}

}  // namespace
}  // namespace tarnvelox::base
