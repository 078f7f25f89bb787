#pragma once
// How many workers the process-wide pool gets: two environment variables, else the CPUs this
// process may actually use. The text parsing is kept in pure functions over strings, so that
// every rule can be checked without touching the real environment or /proc.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::pool {

inline constexpr std::size_t max_worker_count = 255;

// Digits with at most one leading plus sign and nothing else (no spaces, no minus sign), within
// the machine word; anything else is not a number here.
inline std::optional<std::size_t> parse_unsigned_decimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::size_t>(c - '0');
        if (value > (std::numeric_limits<std::size_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// The sizing rule; a null pointer stands for an absent variable. "RAYON_NUM_THREADS" decides if
// it is a number, where 0 asks for the default outright; otherwise "RAYON_RS_NUM_CPUS" decides
// if it is a positive number; otherwise the available CPUs do. Never more than 255, never 0.
inline std::size_t decide_worker_count(const char* rayon_num_threads, const char* rayon_rs_num_cpus,
                                       std::size_t available_cpus) {
    const std::size_t fallback = std::max<std::size_t>(available_cpus, 1);
    std::size_t count = fallback;
    const auto first = rayon_num_threads ? parse_unsigned_decimal(rayon_num_threads) : std::nullopt;
    if (first) {
        count = *first > 0 ? *first : fallback;
    } else if (const auto second = rayon_rs_num_cpus ? parse_unsigned_decimal(rayon_rs_num_cpus) : std::nullopt;
               second && *second > 0) {
        count = *second;
    }
    return std::min(count, max_worker_count);
}

// ---- control-group CPU quota ---------------------------------------------------------------

enum class CgroupVersion { v1, v2 };

// A quota of `quota` microseconds of CPU time per `period`: that many whole CPUs, at least one.
inline std::optional<std::size_t> cpus_from_quota(std::uint64_t quota, std::uint64_t period) {
    if (period == 0) return std::nullopt;
    return std::max<std::uint64_t>(quota / period, 1);
}

inline std::string_view trim_line_end(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
    return text;
}

// cgroup v2 "cpu.max": "$MAX $PERIOD", where $MAX is "max" when there is no limit.
inline std::optional<std::size_t> parse_cpu_max(std::string_view contents) {
    contents = trim_line_end(contents);
    const std::size_t space = contents.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const auto quota = parse_unsigned_decimal(contents.substr(0, space));
    const auto period = parse_unsigned_decimal(contents.substr(space + 1));
    if (!quota || !period) return std::nullopt;  // "max", or nothing we understand
    return cpus_from_quota(*quota, *period);
}

// cgroup v1 "cpu.cfs_quota_us" and "cpu.cfs_period_us"; a quota of -1 means no limit.
inline std::optional<std::size_t> parse_cfs_quota(std::string_view quota_text, std::string_view period_text) {
    const auto quota = parse_unsigned_decimal(trim_line_end(quota_text));
    const auto period = parse_unsigned_decimal(trim_line_end(period_text));
    if (!quota || !period) return std::nullopt;
    return cpus_from_quota(*quota, *period);
}

// The process's cgroup from /proc/self/cgroup, whose lines read "ID:CONTROLLERS:PATH": for v2
// the line "0::PATH", for v1 the line whose comma-separated controllers include "cpu".
inline std::optional<std::string> find_cgroup_path(std::string_view proc_self_cgroup, CgroupVersion version) {
    while (!proc_self_cgroup.empty()) {
        const std::size_t end = std::min(proc_self_cgroup.find('\n'), proc_self_cgroup.size());
        const std::string_view line = proc_self_cgroup.substr(0, end);
        proc_self_cgroup.remove_prefix(std::min(end + 1, proc_self_cgroup.size()));

        const std::size_t first_colon = line.find(':');
        const std::size_t second_colon = line.find(':', first_colon + 1);
        if (first_colon == std::string_view::npos || second_colon == std::string_view::npos) continue;
        const std::string_view id = line.substr(0, first_colon);
        std::string_view controllers = line.substr(first_colon + 1, second_colon - first_colon - 1);
        const std::string_view path = line.substr(second_colon + 1);
        if (version == CgroupVersion::v2) {
            if (id == "0" && controllers.empty()) return std::string(path);
            continue;
        }
        while (!controllers.empty()) {
            const std::size_t comma = std::min(controllers.find(','), controllers.size());
            if (controllers.substr(0, comma) == "cpu") return std::string(path);
            controllers.remove_prefix(std::min(comma + 1, controllers.size()));
        }
    }
    return std::nullopt;
}

struct CgroupMount {
    std::string root;         // the directory of the hierarchy that is mounted
    std::string mount_point;  // where it is mounted
};

// mountinfo writes space, tab, newline and backslash in paths as three-digit octal escapes.
inline std::string unescape_mountinfo_field(std::string_view field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto is_octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && is_octal(i + 1) && is_octal(i + 2) && is_octal(i + 3)) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// The mount of the v2 hierarchy, or of the v1 hierarchy with the "cpu" controller, from
// /proc/self/mountinfo: "ID PARENT MAJ:MIN ROOT MOUNT_POINT OPTIONS [TAGS...] - TYPE SOURCE SUPER".
inline std::optional<CgroupMount> find_cgroup_mount(std::string_view mountinfo, CgroupVersion version) {
    while (!mountinfo.empty()) {
        const std::size_t end = std::min(mountinfo.find('\n'), mountinfo.size());
        std::string_view line = mountinfo.substr(0, end);
        mountinfo.remove_prefix(std::min(end + 1, mountinfo.size()));

        std::string_view fields[6];
        std::string_view type;
        std::string_view super_options;
        std::size_t index = 0;
        bool after_separator = false;
        std::size_t after_count = 0;
        while (!line.empty()) {
            const std::size_t space = std::min(line.find(' '), line.size());
            const std::string_view field = line.substr(0, space);
            line.remove_prefix(std::min(space + 1, line.size()));
            if (index < 6) {
                fields[index++] = field;
            } else if (!after_separator) {
                after_separator = field == "-";
            } else if (after_count++ == 0) {
                type = field;
            } else if (after_count == 3) {
                super_options = field;
            }
        }
        if (index < 6 || !after_separator) continue;
        if (version == CgroupVersion::v2 && type != "cgroup2") continue;
        if (version == CgroupVersion::v1) {
            if (type != "cgroup") continue;
            bool has_cpu = false;
            while (!super_options.empty() && !has_cpu) {
                const std::size_t comma = std::min(super_options.find(','), super_options.size());
                has_cpu = super_options.substr(0, comma) == "cpu";
                super_options.remove_prefix(std::min(comma + 1, super_options.size()));
            }
            if (!has_cpu) continue;
        }
        return CgroupMount{unescape_mountinfo_field(fields[3]), unescape_mountinfo_field(fields[4])};
    }
    return std::nullopt;
}

// Where the process's cgroup appears in the file system, or nothing when the cgroup lies outside
// the mounted part of the hierarchy.
inline std::optional<std::string> cgroup_directory(const CgroupMount& mount, std::string_view cgroup_path) {
    std::string_view root = mount.root;
    if (root == "/") root = "";
    if (cgroup_path.substr(0, root.size()) != root) return std::nullopt;
    const std::string_view below_root = cgroup_path.substr(root.size());
    if (!below_root.empty() && below_root.front() != '/') return std::nullopt;
    std::string directory = mount.mount_point;
    directory += below_root;
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    return directory;
}

// ---- what the operating system reports (worker_count.cpp) ----------------------------------

// The CPUs in this process's scheduling-affinity mask (else the online processors), capped by
// the CPU quota of its control group (v2, else v1) where one is set; 1 if nothing is known.
std::size_t detect_available_cpus();

}  // namespace quorvane::pool
