#include "backends/posix/kernel_files/sysfs_reading.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <limits>

namespace brivane::platform::posix {
namespace {

constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();

// Malformed text is in the fuzz seeds, which check that nothing parses to another number.
TEST(SysfsReading, ParsesOnlyWholeNumbers) {
    struct Case {
        std::string_view text;
        std::optional<std::int64_t> signedValue;
        std::optional<std::uint64_t> unsignedValue;
    };
    const Case cases[] = {
        {"42000\n", 42000, 42000u},
        {"-128000\n", -128000, std::nullopt},
        {"+5", 5, std::nullopt},
        {"9223372036854775807\n", int64Max, 9223372036854775807u},
        {"-9223372036854775808", int64Min, std::nullopt},
        {"9223372036854775808", std::nullopt, 9223372036854775808u},
        {"18446744073709551615\n", std::nullopt, std::numeric_limits<std::uint64_t>::max()},
        {"18446744073709551616", std::nullopt, std::nullopt},
        {"+-5", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
        EXPECT_EQ(parseInteger(c.text), c.signedValue);
        EXPECT_EQ(parseUnsigned(c.text), c.unsignedValue);
    }
}

template <int Error> ssize_t failingPread(int, void*, std::size_t, off_t) {
    errno = Error;
    return -1;
}

TEST(SysfsReading, KeptValueRereadsAndReportsErrors) {
    testing::TempDir tree;
    tree.write("hwmon0/temp1_input", "42000\n");
    tree.write("hwmon0/long", std::string(64, '1'));
    tree.write("hwmon0/garbage", "N/A\n");
    const RootedDirectory root(tree.path());

    const KeptValue kept(root, "hwmon0/temp1_input");
    ASSERT_TRUE(kept.isOpen());
    EXPECT_EQ(kept.read().value, 42000);
    tree.write("hwmon0/temp1_input", "-5\n"); // rewritten in place: the descriptor sees it
    EXPECT_EQ(kept.read().value, -5);
    EXPECT_EQ(kept.readCounter().outcome, Outcome::absentNow);

    struct Case {
        const char* name;
        const char* file;
        KeptValue::Pread pread;
        Outcome outcome;
    };
    const Case cases[] = {
        {"no data", "hwmon0/temp1_input", failingPread<ENODATA>, Outcome::absentNow},
        {"busy", "hwmon0/temp1_input", failingPread<EAGAIN>, Outcome::absentNow},
        {"driver error", "hwmon0/temp1_input", failingPread<EIO>, Outcome::absentNow},
        {"unplugged", "hwmon0/temp1_input", failingPread<ENODEV>, Outcome::gone},
        {"root only", "hwmon0/temp1_input", failingPread<EACCES>, Outcome::denied},
        {"fills the buffer", "hwmon0/long", ::pread, Outcome::absentNow},
        {"not a number", "hwmon0/garbage", ::pread, Outcome::absentNow},
        {"missing", "hwmon0/temp2_input", ::pread, Outcome::gone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto reading = KeptValue(root, c.file, c.pread).read();
        EXPECT_EQ(reading.outcome, c.outcome);
        EXPECT_FALSE(reading.value);
    }
}

TEST(SysfsReading, RootedDirectoryWalksAFixtureTree) {
    testing::TempDir tree;
    tree.write("class/hwmon/hwmon1/name", "coretemp\n");
    tree.write("class/hwmon/hwmon0/name", "acpitz\n");
    tree.symlink("class/hwmon/hwmon1/device", "../../../devices/platform/coretemp.0");
    const RootedDirectory root(tree.path());
    ASSERT_TRUE(root.valid());

    EXPECT_EQ(root.list("class/hwmon"), (std::vector<std::string>{"hwmon0", "hwmon1"}));
    EXPECT_TRUE(root.list("class/none").empty());
    EXPECT_EQ(root.linkTarget("class/hwmon/hwmon1/device"), "../../../devices/platform/coretemp.0");
    EXPECT_FALSE(root.linkTarget("class/hwmon/hwmon1/name"));
    EXPECT_EQ(root.readText("class/hwmon/hwmon1/name"), "coretemp\n");
    EXPECT_FALSE(root.readText("class/hwmon/hwmon1/name", 4));

    const auto chip = root.subdirectory("class/hwmon/hwmon0");
    char buffer[8];
    const auto whole = chip.readWhole("name", buffer);
    EXPECT_EQ(whole.outcome, Outcome::value);
    EXPECT_EQ(withoutNewline(whole.text), "acpitz");
    char small[4];
    EXPECT_EQ(chip.readWhole("name", small).outcome, Outcome::absentNow); // never cut
    EXPECT_EQ(chip.readHead("name", small), "acpi");                      // cut on request
    EXPECT_EQ(chip.readWhole("missing", buffer).outcome, Outcome::gone);
    tree.write("class/hwmon/hwmon0/temp1_max", "105000\n");
    EXPECT_EQ(chip.readInteger("temp1_max").value, 105000);
    EXPECT_EQ(chip.readCounter("name").outcome, Outcome::absentNow);
    EXPECT_EQ(chip.readCounter("temp9_max").outcome, Outcome::gone);
    EXPECT_FALSE(RootedDirectory(tree / "none").valid());
}

} // namespace
} // namespace brivane::platform::posix
