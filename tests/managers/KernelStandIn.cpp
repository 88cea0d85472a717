// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A stand-in for the kernel under the real manager, loaded with LD_PRELOAD into a test or the
// program: the generic SCSI driver's sysfs entries and device nodes come from a folder the test
// lays out, and ioctl(SG_IO) on such a node is answered by a simulated recorder. The manager's
// own code runs unchanged down to the system calls. Everything else passes through.
//
//   CDRW_FAKE_SG_ROOT   the folder (read at every call, so a test may change it; a new folder
//                       starts with fresh units). Unset or empty: everything passes through.
//
// Under the folder:
//   sys/   stands for /sys. Paths under /sys/class/scsi_generic and /sys/class/scsi_host always
//          lead here (a missing folder reads as a driver not loaded), other /sys paths when they
//          exist here. open, openat, fopen, opendir and realpath are redirected; realpath
//          answers without the folder's prefix, as the kernel's tree would.
//   dev/   stands for /dev/sg* and /dev/sr*: plain files (flock works on them as on nodes, and
//          their modes and owners refuse an open as the kernel would; a file of mode 000 refuses
//          root too, with EACCES, so that tests run as root meet a unit they may not open). An
//          sgN file's first 28 bytes are the unit's INQUIRY vendor (8), product (16) and
//          revision (4).
//   residuals   optional, one rule a line: OPCODE OFFSET AMOUNT TIMES. The next TIMES commands
//          with that operation code (hexadecimal) and, for WRITE BUFFER, buffer offset (a number,
//          or * for any) end GOOD with `resid` AMOUNT: `length`, `half` or a number. A WRITE BUFFER
//          answered so reaches no unit: the unit took none of the block, whatever resid says.
//          Other commands run on the unit first. A rule may end with HOST [DRIVER], the host
//          and driver bytes (hexadecimal) the command ends with.
//   log    one line appended per SG_IO: node, CDB bytes in hexadecimal, direction (in, out,
//          none), dxfer_len, resid.
//   images/sgN.bin   what the unit has received so far, rewritten after each WRITE BUFFER.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "managers/sim/SimUnit.h"

namespace {

// The libc function behind an interposed name.
template <typename Function>
Function next(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

std::string root() {
    const char *value = std::getenv("CDRW_FAKE_SG_ROOT");
    return value == nullptr ? std::string() : std::string(value);
}

bool under(std::string_view path, std::string_view folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// The file in the fake tree that stands for `path`; empty when `path` is not faked.
std::string redirected(const char *path) {
    const std::string folder = root();
    if (folder.empty() || path == nullptr) {
        return {};
    }
    const std::string_view wanted(path);
    std::string faked = folder + std::string(wanted);
    if (under(wanted, "/sys/class/scsi_generic") || under(wanted, "/sys/class/scsi_host") ||
        wanted.starts_with("/dev/sg") || wanted.starts_with("/dev/sr")) {
        return faked;
    }
    if (under(wanted, "/sys") && ::access(faked.c_str(), F_OK) == 0) {
        return faked;
    }
    return {};
}

// The path to hand on: the fake file's, or the one asked for.
const char *lookedUp(const char *path, std::string &faked) {
    faked = redirected(path);
    return faked.empty() ? path : faked.c_str();
}

// A faked node that nobody may open.
bool closedToAll(const std::string &faked) {
    struct stat status {};
    return faked.starts_with(root() + "/dev/") && ::stat(faked.c_str(), &status) == 0 &&
           (status.st_mode & 0777) == 0;
}

bool takesMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

// --- The units behind the faked nodes ---

struct ResidualRule {
    unsigned opcode = 0;
    std::optional<unsigned> offset;  // any when empty
    std::string amount;              // "length", "half" or a number
    int times = 0;
    unsigned host = 0, driver = 0;  // DID_* and DRIVER_* bytes
};

struct StandIn {
    std::string root;
    std::map<std::string, sim::SimUnit> units;  // by node name
    std::vector<ResidualRule> rules;
};

std::mutex g_lock;
StandIn g_standIn;

// The state for the current folder, fresh when the folder changed. Called under g_lock.
StandIn &standIn(const std::string &folder) {
    if (g_standIn.root != folder) {
        g_standIn = StandIn{folder, {}, {}};
        std::ifstream rules(folder + "/residuals");
        std::string line;
        while (std::getline(rules, line)) {
            std::istringstream fields(line);
            std::string opcode, offset;
            ResidualRule rule;
            if (fields >> opcode >> offset >> rule.amount >> rule.times) {
                rule.opcode = static_cast<unsigned>(std::strtoul(opcode.c_str(), nullptr, 16));
                if (offset != "*") {
                    rule.offset = static_cast<unsigned>(std::strtoul(offset.c_str(), nullptr, 0));
                }
                fields >> std::hex >> rule.host >> rule.driver;
                g_standIn.rules.push_back(rule);
            }
        }
    }
    return g_standIn;
}

sim::SimUnit &unitFor(StandIn &state, const std::string &node) {
    auto unit = state.units.find(node);
    if (unit == state.units.end()) {
        sim::UnitDescription description;
        std::ifstream file(state.root + "/dev/" + node, std::ios::binary);
        std::string identity(28, ' ');
        file.read(identity.data(), static_cast<std::streamsize>(identity.size()));
        std::copy_n(identity.begin(), 8, description.vendor.begin());
        std::copy_n(identity.begin() + 8, 16, description.product.begin());
        std::copy_n(identity.begin() + 24, 4, description.revision.begin());
        unit = state.units.emplace(node, sim::SimUnit(description, {})).first;
    }
    return unit->second;
}

// The residual a rule gives the command, consuming one of its times; nullopt without a rule.
// `matched` is that rule.
std::optional<int> ruledResidual(StandIn &state, const std::uint8_t *cdb, unsigned length,
                                 const ResidualRule *&matched) {
    const unsigned offset = (cdb[3] << 16) | (cdb[4] << 8) | cdb[5];
    for (ResidualRule &rule : state.rules) {
        if (rule.opcode == cdb[0] && rule.times > 0 &&
            (!rule.offset || cdb[0] != 0x3B || *rule.offset == offset)) {
            --rule.times;
            matched = &rule;
            return rule.amount == "length" ? static_cast<int>(length)
                   : rule.amount == "half" ? static_cast<int>(length / 2)
                                           : std::atoi(rule.amount.c_str());
        }
    }
    return std::nullopt;
}

// The name of the faked generic node open on `fd` ("sg0"), or empty.
std::string fakedNode(int fd, const std::string &folder) {
    char link[PATH_MAX];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(proc.c_str(), link, sizeof(link) - 1);
    const std::string prefix = folder + "/dev/sg";
    if (folder.empty() || length <= 0 ||
        !std::string_view(link, static_cast<std::size_t>(length)).starts_with(prefix)) {
        return {};
    }
    return std::string(link + folder.size() + 5, link + length);
}

void appendLog(const StandIn &state, const std::string &node, const sg_io_hdr_t &header) {
    std::string line = node;
    char byte[4];
    for (unsigned i = 0; i < header.cmd_len; ++i) {
        std::snprintf(byte, sizeof(byte), " %02x", header.cmdp[i]);
        line += byte;
    }
    line += header.dxfer_direction == SG_DXFER_TO_DEV     ? " out "
            : header.dxfer_direction == SG_DXFER_FROM_DEV ? " in "
                                                          : " none ";
    line += std::to_string(header.dxfer_len) + " " + std::to_string(header.resid) + "\n";
    std::ofstream(state.root + "/log", std::ios::app) << line;
}

void writeImage(const StandIn &state, const std::string &node, const sim::SimUnit &unit) {
    std::filesystem::create_directories(state.root + "/images");
    std::ofstream image(state.root + "/images/" + node + ".bin", std::ios::binary);
    image.write(reinterpret_cast<const char *>(unit.received().data()),
                static_cast<std::streamsize>(unit.received().size()));
}

// Answers one SG_IO on a faked node as the sg driver would, with the unit's reply.
int answer(const std::string &folder, const std::string &node, sg_io_hdr_t &header) {
    if (header.interface_id != 'S') {
        errno = ENOSYS;
        return -1;
    }
    if (header.cmdp == nullptr || header.cmd_len < 6 || header.cmd_len > 16 ||
        (header.dxfer_len > 0 && header.dxferp == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    const std::lock_guard<std::mutex> hold(g_lock);
    StandIn &state = standIn(folder);
    sim::SimUnit &unit = unitFor(state, node);
    std::uint8_t cdb[16] = {};
    std::memcpy(cdb, header.cmdp, header.cmd_len);
    const bool moves = header.dxfer_direction != SG_DXFER_NONE && header.dxfer_len > 0;
    auto *data = moves ? static_cast<std::uint8_t *>(header.dxferp) : nullptr;
    const std::uint32_t length = moves ? header.dxfer_len : 0;

    const ResidualRule *rule = nullptr;
    const std::optional<int> residual = ruledResidual(state, cdb, length, rule);
    sim::Reply reply;
    if (!residual || cdb[0] != 0x3B) {
        reply = unit.execute(cdb, header.cmd_len, data, length);
    }
    header.status = reply.targStat;
    header.masked_status = static_cast<unsigned char>(reply.targStat >> 1);
    header.msg_status = 0;
    header.host_status = reply.haStat != 0 ? 0x07 : rule != nullptr ? rule->host : 0;  // DID_ERROR
    header.driver_status = rule != nullptr ? rule->driver : 0;
    header.sb_len_wr = 0;
    if (reply.targStat == 0x02) {
        header.driver_status = 0x08;  // DRIVER_SENSE
        header.sb_len_wr = std::min<unsigned char>(header.mx_sb_len, sim::kSenseBytes);
        if (header.sbp != nullptr) {
            std::memcpy(header.sbp, reply.sense.data(), header.sb_len_wr);
        }
    }
    header.resid = residual.value_or(0);
    header.duration = 1;
    header.info = header.status != 0 || header.host_status != 0 || header.driver_status != 0
                      ? SG_INFO_CHECK
                      : SG_INFO_OK;
    appendLog(state, node, header);
    if (cdb[0] == 0x3B) {
        writeImage(state, node, unit);
    }
    return 0;
}

int openFaked(const char *path, int flags, mode_t mode) {
    static const auto real = next<int (*)(const char *, int, ...)>("open");
    std::string faked;
    const char *opened = lookedUp(path, faked);
    if (closedToAll(faked)) {
        errno = EACCES;
        return -1;
    }
    return real(opened, flags, mode);
}

int openatFaked(int dirfd, const char *path, int flags, mode_t mode) {
    static const auto real = next<int (*)(int, const char *, int, ...)>("openat");
    std::string faked;
    return real(dirfd, lookedUp(path, faked), flags, mode);
}

mode_t modeArgument(int flags, va_list arguments) {
    return takesMode(flags) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

// libc's own names, reserved as they are, since these stand in for them.
// NOLINTBEGIN(bugprone-reserved-identifier)
#define STAND_IN extern "C" __attribute__((visibility("default")))
// The large-file names lead to the same calls: on a 64-bit system they are the same, and the
// files a test fakes are small.
#define SAME_AS(name) __attribute__((visibility("default"), alias(name)))

STAND_IN int open(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openFaked(path, flags, mode);
}

STAND_IN int __open_2(const char *path, int flags) {
    return openFaked(path, flags, 0);
}

STAND_IN int openat(int dirfd, const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openatFaked(dirfd, path, flags, mode);
}

STAND_IN int __openat_2(int dirfd, const char *path, int flags) {
    return openatFaked(dirfd, path, flags, 0);
}

STAND_IN FILE *fopen(const char *path, const char *mode) {
    static const auto real = next<FILE *(*)(const char *, const char *)>("fopen");
    std::string faked;
    return real(lookedUp(path, faked), mode);
}

extern "C" int open64(const char *path, int flags, ...) SAME_AS("open");
extern "C" int __open64_2(const char *path, int flags) SAME_AS("__open_2");
extern "C" int openat64(int dirfd, const char *path, int flags, ...) SAME_AS("openat");
extern "C" int __openat64_2(int dirfd, const char *path, int flags) SAME_AS("__openat_2");
extern "C" FILE *fopen64(const char *path, const char *mode) SAME_AS("fopen");
// NOLINTEND(bugprone-reserved-identifier)

STAND_IN DIR *opendir(const char *path) {
    static const auto real = next<DIR *(*)(const char *)>("opendir");
    std::string faked;
    return real(lookedUp(path, faked));
}

STAND_IN char *realpath(const char *path, char *resolved) {
    static const auto real = next<char *(*)(const char *, char *)>("realpath");
    std::string faked;
    char *answer = real(lookedUp(path, faked), resolved);
    const std::string folder = root();
    if (answer != nullptr && !faked.empty() && std::string_view(answer).starts_with(folder + "/")) {
        std::memmove(answer, answer + folder.size(), std::strlen(answer) - folder.size() + 1);
    }
    return answer;
}

STAND_IN int ioctl(int fd, unsigned long request, ...) {
    static const auto real = next<int (*)(int, unsigned long, ...)>("ioctl");
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (request == SG_IO) {
        const std::string folder = root();
        if (const std::string node = fakedNode(fd, folder); !node.empty()) {
            return answer(folder, node, *static_cast<sg_io_hdr_t *>(argument));
        }
    }
    return real(fd, request, argument);
}
