// How many workers: the environment variables' texts, the control-group files, and the global
// pool of a fresh process reading its environment exactly once.
#include <gtest/gtest.h>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "test_pool_support.hpp"

namespace quorvane::pool {
namespace {

struct SizingCase {
    const char* name;
    const char* rayon_num_threads;  // nullptr: not set
    const char* rayon_rs_num_cpus;
    std::size_t available_cpus;
    std::size_t expected;
};

class SizingRule : public ::testing::TestWithParam<SizingCase> {};

TEST_P(SizingRule, GivesTheWorkerCount) {
    const SizingCase& c = GetParam();
    EXPECT_EQ(decide_worker_count(c.rayon_num_threads, c.rayon_rs_num_cpus, c.available_cpus), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environment, SizingRule,
    ::testing::Values(SizingCase{"plain_number", "3", "2", 6, 3}, SizingCase{"plus_sign", "+3", nullptr, 6, 3},
                      SizingCase{"leading_zeros", "007", nullptr, 6, 7},
                      SizingCase{"zero_means_default_outright", "0", "2", 6, 6},
                      SizingCase{"minus_one_defers", "-1", "2", 6, 2}, SizingCase{"letters_defer", "abc", "2", 6, 2},
                      SizingCase{"trailing_space_defers", "3 ", "2", 6, 2},
                      SizingCase{"leading_space_defers", " 3", nullptr, 6, 6},
                      SizingCase{"two_plus_signs_defer", "++3", nullptr, 6, 6},
                      SizingCase{"empty_defers", "", "2", 6, 2}, SizingCase{"empty_then_default", "", nullptr, 6, 6},
                      SizingCase{"capped", "1000", nullptr, 6, 255},
                      SizingCase{"largest_word_is_capped", "18446744073709551615", nullptr, 6, 255},
                      SizingCase{"beyond_the_word_defers", "18446744073709551616", "2", 6, 2},
                      SizingCase{"second_decides", nullptr, "2", 6, 2},
                      SizingCase{"second_zero_is_default", nullptr, "0", 6, 6},
                      SizingCase{"second_capped", nullptr, "300", 6, 255},
                      SizingCase{"second_invalid_is_default", nullptr, "two", 6, 6},
                      SizingCase{"default", nullptr, nullptr, 6, 6}, SizingCase{"default_capped", nullptr, nullptr, 512, 255},
                      SizingCase{"nothing_known", nullptr, nullptr, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct QuotaCase {
    const char* name;
    const char* first_file;   // cpu.max, or cpu.cfs_quota_us
    const char* second_file;  // nullptr for cpu.max, else cpu.cfs_period_us
    std::optional<std::size_t> expected;
};

class CgroupQuota : public ::testing::TestWithParam<QuotaCase> {};

TEST_P(CgroupQuota, GivesWholeCpus) {
    const QuotaCase& c = GetParam();
    const auto cpus = c.second_file == nullptr ? parse_cpu_max(c.first_file) : parse_cfs_quota(c.first_file, c.second_file);
    EXPECT_EQ(cpus, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CgroupQuota,
    ::testing::Values(QuotaCase{"v2_unlimited", "max 100000\n", nullptr, std::nullopt},
                      QuotaCase{"v2_two", "200000 100000\n", nullptr, 2},
                      QuotaCase{"v2_rounds_down", "350000 100000\n", nullptr, 3},
                      QuotaCase{"v2_at_least_one", "50000 100000\n", nullptr, 1},
                      QuotaCase{"v2_garbage", "lots\n", nullptr, std::nullopt},
                      QuotaCase{"v1_unlimited", "-1\n", "100000\n", std::nullopt},
                      QuotaCase{"v1_four", "400000\n", "100000\n", 4},
                      QuotaCase{"v1_at_least_one", "20000\n", "100000\n", 1},
                      QuotaCase{"v1_zero_period", "100000\n", "0\n", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CgroupLocation, FindsTheProcessCgroupOfEachVersion) {
    const char* hybrid = "9:name=systemd:/\n4:cpu,cpuacct:/docker/abc\n3:cpuset:/elsewhere\n0::/user.slice/session.scope\n";
    EXPECT_EQ(find_cgroup_path(hybrid, CgroupVersion::v2), "/user.slice/session.scope");
    EXPECT_EQ(find_cgroup_path(hybrid, CgroupVersion::v1), "/docker/abc");
    EXPECT_EQ(find_cgroup_path("3:cpuset:/a\n2:cpuacct:/b\n", CgroupVersion::v1), std::nullopt);
    EXPECT_EQ(find_cgroup_path("3:cpuset:/a\n", CgroupVersion::v2), std::nullopt);
}

TEST(CgroupLocation, FindsTheMountAndTheDirectoryBelowIt) {
    const char* mountinfo =
        "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
        "32 31 0:29 /docker/abc /sys/fs/cgroup/cpu rw,relatime shared:9 - cgroup cgroup rw,cpu,cpuacct\n"
        "34 31 0:31 / /sys/fs/cgroup/cpuset rw,relatime - cgroup cgroup rw,cpuset\n"
        "41 31 0:38 / /sys/fs/cgroup/un\\040ified rw,relatime - cgroup2 cgroup2 rw\n";
    const auto v1 = find_cgroup_mount(mountinfo, CgroupVersion::v1);
    ASSERT_TRUE(v1.has_value());
    EXPECT_EQ(v1->root, "/docker/abc");
    EXPECT_EQ(v1->mount_point, "/sys/fs/cgroup/cpu");
    EXPECT_EQ(cgroup_directory(*v1, "/docker/abc"), "/sys/fs/cgroup/cpu");
    EXPECT_EQ(cgroup_directory(*v1, "/docker/abc/inner"), "/sys/fs/cgroup/cpu/inner");
    EXPECT_EQ(cgroup_directory(*v1, "/docker/abcdef"), std::nullopt);
    EXPECT_EQ(cgroup_directory(*v1, "/other"), std::nullopt);

    const auto v2 = find_cgroup_mount(mountinfo, CgroupVersion::v2);
    ASSERT_TRUE(v2.has_value());
    EXPECT_EQ(v2->mount_point, "/sys/fs/cgroup/un ified");
    EXPECT_EQ(cgroup_directory(*v2, "/"), "/sys/fs/cgroup/un ified");
    EXPECT_EQ(cgroup_directory(*v2, "/a.slice/b.scope"), "/sys/fs/cgroup/un ified/a.slice/b.scope");
}

TEST(AvailableCpus, AreAtLeastOneAndNoMoreThanOnline) {
    const std::size_t cpus = detect_available_cpus();
    EXPECT_GE(cpus, 1u);
    EXPECT_LE(cpus, std::max<long>(1, sysconf(_SC_NPROCESSORS_CONF)));
}

// ---- the global pool in a fresh process ----------------------------------------------------

constexpr const char* child_marker = "QUORVANE_POOL_TEST_EXPECTED_WORKERS";

// Runs only inside the process that GlobalPool.ReadsTheEnvironmentOnce starts.
TEST(GlobalPoolChild, HasTheExpectedWorkersWhateverTheEnvironmentSaysLater) {
    const char* expected = std::getenv(child_marker);
    if (expected == nullptr) GTEST_SKIP() << "runs only in a child of GlobalPool.ReadsTheEnvironmentOnce";
    ASSERT_EQ(current_worker_count(), std::stoul(expected));
    setenv("RAYON_NUM_THREADS", "7", 1);
    setenv("RAYON_RS_NUM_CPUS", "5", 1);
    EXPECT_EQ(run_join_text(3, [](std::size_t i, std::string& out) { out += char('a' + i); }, "-"), "a-b-c");
    EXPECT_EQ(global_pool().worker_count(), std::stoul(expected));
}

struct ChildEnvironment {
    const char* name;
    std::vector<std::string> variables;
    std::string expected_workers;
};

class GlobalPool : public ::testing::TestWithParam<ChildEnvironment> {};

TEST_P(GlobalPool, ReadsTheEnvironmentOnce) {
    std::vector<std::string> environment = GetParam().variables;
    environment.push_back(std::string(child_marker) + "=" + GetParam().expected_workers);
    EXPECT_EQ(testing::exit_status_of_fresh_run("GlobalPoolChild.*", environment), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Environment, GlobalPool,
    ::testing::Values(ChildEnvironment{"three", {"RAYON_NUM_THREADS=3", "RAYON_RS_NUM_CPUS=2"}, "3"},
                      ChildEnvironment{"second_variable", {"RAYON_NUM_THREADS=three", "RAYON_RS_NUM_CPUS=2"}, "2"},
                      ChildEnvironment{"capped", {"RAYON_NUM_THREADS=1000"}, "255"},
                      ChildEnvironment{"default", {}, std::to_string(detect_available_cpus())}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvane::pool
