#include "util/log_limit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string contents(std::FILE* f) {
    std::string s(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    s.resize(std::fread(s.data(), 1, s.size(), f));
    std::fseek(f, 0, SEEK_END);
    return s;
}

// A burst within one second lets three lines through; a line after the second has passed is written with the
// number of lines held back, and the count starts again.
TEST(LogLimit, ABurstIsCutToTheLimitAndTheHeldLinesAreCounted) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    kavro::LogLimit log(3, f);
    const auto t0 = kavro::LogLimit::Clock::now();
    for (int i = 0; i < 1000; ++i) log.write(t0 + std::chrono::microseconds(i * 900), "refused %d", i);
    EXPECT_EQ(contents(f), "refused 0\nrefused 1\nrefused 2\n");
    EXPECT_EQ(log.held(), 997u);
    log.write(t0 + std::chrono::milliseconds(1000), "refused %s", "later");
    EXPECT_EQ(contents(f), "refused 0\nrefused 1\nrefused 2\nrefused later (997 similar lines held back before this one)\n");
    EXPECT_EQ(log.held(), 0u);
    std::fclose(f);
}

} // namespace
