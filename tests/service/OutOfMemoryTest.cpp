// Exhausted memory is an event with code 12 every time it happens, not only
// the first: the service may swallow one event and run on.
#include "events/PVXException.h"
#include "service/ProcessEntry.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

namespace pvx {
namespace {

TEST(OutOfMemory, EveryExhaustionBecomesEvent12AndIsReported)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator refuses such a request by aborting";
#else
    Portability(); // its construction installs the handler
    // Far beyond any address space: refused at once, without touching memory.
    volatile std::size_t huge = std::size_t{1} << 62;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::uint32_t code = 0;
        try {
            auto block = std::make_unique<char[]>(huge);
        } catch (const CPVXException& event) {
            code = event.GetCode();
            testing::internal::CaptureStderr();
            event.Report();
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot allocate memory\n");
        }
        EXPECT_EQ(code, 12u) << "exhaustion " << attempt + 1;
    }
#endif
}

} // namespace
} // namespace pvx
