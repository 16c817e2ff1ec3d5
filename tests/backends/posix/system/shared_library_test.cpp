#include "backends/posix/system/shared_library.h"

#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

// Declared only to be looked up: no library has it.
extern "C" int brivane_no_such_function();

namespace brivane::platform::posix {
namespace {

constexpr const char* libc = "libc.so.6";
constexpr const char* absent = "libbrivane-no-such-library.so.1";

struct Present {
#define BRIVANE_TEST_PRESENT(X) X(getpid) X(strlen)
    BRIVANE_LIBRARY_TABLE(BRIVANE_TEST_PRESENT)
};

struct Lacking {
#define BRIVANE_TEST_LACKING(X) X(getpid) X(brivane_no_such_function) X(strlen)
    BRIVANE_LIBRARY_TABLE(BRIVANE_TEST_LACKING)
};

TEST(SharedLibrary, ResolvesTypedSymbolsAndNamesTheFirstMissingOne) {
    std::string problem;
    EXPECT_FALSE(SharedLibrary::open(absent, &problem));
    EXPECT_EQ(problem.rfind(std::string("cannot open ") + absent + ": ", 0), 0u) << problem;

    auto library = SharedLibrary::open(libc);
    ASSERT_TRUE(library);
    Lacking table;
    table.resolve(*library);
    ASSERT_TRUE(table.getpid && table.strlen);
    EXPECT_EQ(table.getpid(), ::getpid());
    EXPECT_EQ(table.brivane_no_such_function, nullptr);
    EXPECT_STREQ(library->missing(), "brivane_no_such_function");
}

TEST(LibraryOnce, KeepsTheTableOrTheReasonItHasNone) {
    LibraryOnce<Present> present(libc, "the test");
    std::string problem = "stale";
    const Present* table = present.get(problem);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(table->strlen("four"), 4u);
    EXPECT_EQ(present.get(), table);
    EXPECT_EQ(present.opened(), table);

    LibraryOnce<Lacking> lacking(libc, "the test");
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(lacking.get(problem), nullptr);
        EXPECT_EQ(problem, "libc.so.6 lacks a function the test needs (brivane_no_such_function)");
    }
    EXPECT_EQ(lacking.opened(), nullptr);

    LibraryOnce<Present> missing(absent, "the test");
    EXPECT_EQ(missing.get(problem), nullptr);
    EXPECT_EQ(problem.rfind("cannot open ", 0), 0u) << problem;
}

} // namespace
} // namespace brivane::platform::posix
