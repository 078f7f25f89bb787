// Reading what the operating system reports about the CPUs this process may use. Kept out of
// the header: it needs file streams, which no user of the pool should have to compile.
#include "src/pool/worker_count.hpp"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace quorvane::pool {
namespace {

std::optional<std::string> read_small_file(const std::string& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::optional<std::size_t> affinity_cpu_count() {
    // A set for 1024 CPUs, doubled while the kernel says it is too small for its mask.
    for (std::size_t cpus = 1024; cpus <= (std::size_t{1} << 22); cpus *= 2) {
        const std::unique_ptr<cpu_set_t, void (*)(cpu_set_t*)> set(CPU_ALLOC(cpus), [](cpu_set_t* s) { CPU_FREE(s); });
        if (!set) return std::nullopt;
        const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
        if (sched_getaffinity(0, bytes, set.get()) == 0) {
            const int count = CPU_COUNT_S(bytes, set.get());
            return count > 0 ? std::optional<std::size_t>(static_cast<std::size_t>(count)) : std::nullopt;
        }
        if (errno != EINVAL) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::size_t> online_cpu_count() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? std::optional<std::size_t>(static_cast<std::size_t>(count)) : std::nullopt;
}

// The tightest quota on the way from the process's cgroup up to the top of the mounted hierarchy:
// a parent's limit binds its children too.
std::optional<std::size_t> cgroup_cpu_limit(CgroupVersion version, std::string_view proc_self_cgroup,
                                                   std::string_view mountinfo) {
    const auto path = find_cgroup_path(proc_self_cgroup, version);
    const auto mount = find_cgroup_mount(mountinfo, version);
    if (!path || !mount) return std::nullopt;
    auto directory = cgroup_directory(*mount, *path);
    if (!directory) return std::nullopt;

    std::optional<std::size_t> tightest;
    for (std::string dir = *directory;;) {
        std::optional<std::size_t> limit;
        if (version == CgroupVersion::v2) {
            if (const auto text = read_small_file(dir + "/cpu.max")) limit = parse_cpu_max(*text);
        } else {
            const auto quota = read_small_file(dir + "/cpu.cfs_quota_us");
            const auto period = read_small_file(dir + "/cpu.cfs_period_us");
            if (quota && period) limit = parse_cfs_quota(*quota, *period);
        }
        if (limit && (!tightest || *limit < *tightest)) tightest = limit;
        if (dir.size() <= mount->mount_point.size()) break;
        dir.erase(dir.rfind('/'));
        if (dir.size() < mount->mount_point.size()) break;
    }
    return tightest;
}

}  // namespace

std::size_t detect_available_cpus() {
    std::size_t cpus = affinity_cpu_count().value_or(online_cpu_count().value_or(0));
    const auto proc_self_cgroup = read_small_file("/proc/self/cgroup");
    const auto mountinfo = read_small_file("/proc/self/mountinfo");
    if (proc_self_cgroup && mountinfo) {
        for (const CgroupVersion version : {CgroupVersion::v2, CgroupVersion::v1}) {
            const auto limit = cgroup_cpu_limit(version, *proc_self_cgroup, *mountinfo);
            if (limit && (cpus == 0 || *limit < cpus)) cpus = *limit;
        }
    }
    return std::max<std::size_t>(cpus, 1);
}

}  // namespace quorvane::pool
