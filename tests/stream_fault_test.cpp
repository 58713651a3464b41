// The writer against streams that fail for real part-way (glibc's fopencookie): the C library
// sets the stream's error flag, as it would for a failing disk.
#include "array_writer.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <sys/types.h>

namespace {

// A stream over `data` (reading) or into nowhere (writing) that fails once `limit` bytes have
// passed.
struct Budget {
    std::size_t limit;
    std::size_t passed = 0;
    std::string data;
};

ssize_t read_some(void* cookie, char* buffer, std::size_t size) {
    auto& budget = *static_cast<Budget*>(cookie);
    if (budget.passed >= budget.limit && budget.passed < budget.data.size())
        return -1;
    const std::size_t count =
        std::min(size, std::min(budget.limit, budget.data.size()) - budget.passed);
    budget.data.copy(buffer, count, budget.passed);
    budget.passed += count;
    return static_cast<ssize_t>(count);
}

// A failed write returns 0, never -1: glibc takes a negative count for a huge one.
ssize_t write_some(void* cookie, const char*, std::size_t size) {
    auto& budget = *static_cast<Budget*>(cookie);
    if (budget.passed + size > budget.limit)
        return 0;
    budget.passed += size;
    return static_cast<ssize_t>(size);
}

struct FaultCase {
    const char* what;
    std::size_t input_size;
    std::size_t read_limit;
    std::size_t write_limit;
    vormesta::WriteResult expected;
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) {
    return out << c.what;
}

class StreamFault : public testing::TestWithParam<FaultCase> {};

TEST_P(StreamFault, WriterReportsTheStepThatFailed) {
    const FaultCase& c = GetParam();
    Budget input{c.read_limit, 0, std::string(c.input_size, 'v')};
    Budget output{c.write_limit, 0, {}};
    std::FILE* in = fopencookie(&input, "rb", {read_some, nullptr, nullptr, nullptr});
    std::FILE* out = fopencookie(&output, "wb", {nullptr, write_some, nullptr, nullptr});
    ASSERT_TRUE(in && out);
    vormesta::WriteResult result = vormesta::write_array(in, out, "v", "\n");
    if (std::fflush(out) != 0 && result == vormesta::WriteResult::ok)
        result = vormesta::WriteResult::write_failed;
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(result, c.expected);
}

constexpr std::size_t unlimited = ~std::size_t{0};
constexpr std::size_t mib = 1 << 20;

INSTANTIATE_TEST_SUITE_P(
    Steps, StreamFault,
    testing::Values(
        FaultCase{"nothing fails", 3 * mib, unlimited, unlimited, vormesta::WriteResult::ok},
        FaultCase{"first read", 3 * mib, 0, unlimited, vormesta::WriteResult::read_failed},
        FaultCase{"read mid-line", 3 * mib, 100, unlimited, vormesta::WriteResult::read_failed},
        FaultCase{"read past a block", 3 * mib, 2 * mib + 7, unlimited,
                  vormesta::WriteResult::read_failed},
        FaultCase{"first write", 3 * mib, unlimited, 0, vormesta::WriteResult::write_failed},
        FaultCase{"write part-way", 3 * mib, unlimited, 5 * mib,
                  vormesta::WriteResult::write_failed},
        // The last bytes wait in the stream's buffer until the final flush.
        FaultCase{"final flush", 3, unlimited, 20, vormesta::WriteResult::write_failed}));

} // namespace
