// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "update/Journal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace update {

namespace {

constexpr const char *kProgram = "cdrw-fwupdate";

std::string absoluteVariable(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string homeFolder() {
    std::string home = absoluteVariable("HOME");
    if (home.empty()) {
        if (const passwd *entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir) {
            home = entry->pw_dir;
        }
    }
    return home;
}

// Makes `folder` and the folders above it that are missing, each 0700 (the state folder holds
// only this user's data). False with errno set when one cannot be made.
bool makeFolders(const std::string &folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

void syncFolder(const std::string &folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QJsonValue stampJson(const ProcessStamp &process) {
    if (process.pid == 0) {
        return QJsonValue::Null;
    }
    return QJsonObject{{"pid", process.pid},
                       {"start", process.start},
                       {"boot", QString::fromStdString(process.boot)}};
}

// Texts of the unit keep their bytes: each is one character, as the windows show it.
QString unitText(const std::string &bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

std::string JournalSettings::defaultPath() {
    std::string state = absoluteVariable("XDG_STATE_HOME");
    if (state.empty()) {
        state = homeFolder() + "/.local/state";
    }
    return state + "/cdrw-fwupdate/journal.jsonl";
}

std::string kernelBootId() {
    std::string boot;
    std::ifstream("/proc/sys/kernel/random/boot_id") >> boot;
    return boot;
}

ProcessStamp stampOf(long long pid) {
    ProcessStamp stamp;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (pid <= 0 || !std::getline(in, stat)) {
        return stamp;
    }
    // The name in parentheses may hold blanks and parentheses itself: the fields follow the last
    // ')'. They start with field 3, the state; the start time is field 22.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return stamp;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    fields >> state;
    std::string field;
    for (int number = 4; number < 22 && fields >> field; ++number) {
    }
    long long start = 0;
    if (!(fields >> start) || state == "Z" || state == "X") {
        return stamp;  // gone, or a zombie: ended, not yet reaped
    }
    stamp.pid = pid;
    stamp.start = start;
    stamp.boot = kernelBootId();
    return stamp;
}

bool isRunning(const ProcessStamp &process) {
    if (process.pid <= 0 || process.boot.empty() || process.boot != kernelBootId()) {
        return false;
    }
    const ProcessStamp now = stampOf(process.pid);
    return now.pid != 0 && now.start == process.start;
}

JournalContext Journal::context(bool simulated, const std::string &simulatedBoot) const {
    JournalContext context;
    context.manager = simulated ? kManagerSimulated : kManagerReal;
    context.boot = !m_settings.bootId.empty() ? m_settings.bootId
                   : simulated                ? simulatedBoot
                                              : kernelBootId();
    return context;
}

bool Journal::append(const QJsonObject &record) const {
    return appendJsonLine(m_settings.path, record, "update journal");
}

bool appendJsonLine(const std::string &path, const QJsonObject &record, const char *what) {
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
    const char *problem = nullptr;
    int error = 0;
    int fd = -1;
    struct stat entry {};
    if (!makeFolders(folder)) {
        problem = "its folder cannot be made";
        error = errno;
    } else if ((fd = ::open(
                    path.c_str(),
                    O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                    0600)) < 0) {
        problem = "it cannot be opened";
        error = errno;
    } else if (::fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode)) {
        problem = "it is not a regular file";
    }
    if (problem == nullptr) {
        // A line cut short by a power cut must not swallow this one: it starts on a line of its
        // own.
        char last = '\n';
        if (entry.st_size > 0 && ::pread(fd, &last, 1, entry.st_size - 1) != 1) {
            last = '\n';
        }
        QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
        if (last != '\n') {
            line.prepend('\n');
        }
        const ssize_t written = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
        if (written != line.size()) {
            problem = "a line cannot be written";
            error = written < 0 ? errno : ENOSPC;
        } else if (::fsync(fd) != 0) {
            problem = "it cannot be synced";
            error = errno;
        } else if (entry.st_size == 0) {
            syncFolder(folder);  // its name, when the file is new
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    if (problem != nullptr) {
        std::fprintf(stderr, "%s: the %s %s cannot be written: %s%s%s\n", kProgram, what,
                     path.c_str(), problem, error != 0 ? ": " : "",
                     error != 0 ? std::strerror(error) : "");
        return false;
    }
    return true;
}

void UpdateRecord::begin(const UpdateFacts &facts) {
    m_id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    const ProcessStamp process = stampOf(::getpid());
    char edc[11];
    std::snprintf(edc, sizeof edc, "0x%08x", facts.edc);
    QJsonObject transport{{"kind", QString::fromStdString(facts.transport)}};
    if (!facts.usbId.empty()) {
        transport.insert("usb_id", QString::fromStdString(facts.usbId));
    }
    write(QJsonObject{
        {"event", "begin"},
        {"started", QString::fromStdString(journalTime())},
        {"boot", QString::fromStdString(facts.context.boot)},
        {"program", CDRW_VERSION},
        {"manager", QString::fromStdString(facts.context.manager)},
        {"process", stampJson(process)},
        {"keeper", stampJson(stampOf(facts.keeperPid))},
        {"unit", unitJson(facts.unitAddress, facts.vendor, facts.product, facts.revision)},
        {"bus", QString::fromStdString(facts.bus)},
        {"file", fileJson(facts.filePath, facts.fileSha256)},
        {"image", imageJson(facts.imageLength, sha256Hex(facts.image, facts.imageLength), edc)},
        {"blocks", QJsonObject{{"count", static_cast<qint64>(facts.blockCount)}}},
        {"transport", transport},
        {"power", QString::fromStdString(facts.power)},
    });
}

void UpdateRecord::blockFailed(std::uint32_t block, std::uint16_t result, const std::uint8_t *sense,
                               bool senseValid, const char *answer) {
    if (m_failures.empty() || m_failures.back().block != block) {
        m_failures.push_back(BlockFailure{block, 0, {}, {}});
    }
    BlockFailure &failure = m_failures.back();
    failure.result = result;
    failure.sense = senseValid ? hexBytes(sense, 18) : std::string();
    if (failure.answers.size() == BlockFailure::kMaxAnswers) {
        failure.answers.erase(failure.answers.begin());
    }
    failure.answers.emplace_back(answer);
}

void UpdateRecord::blockDone(std::uint32_t block) {
    QJsonObject record{{"event", "block"}, {"block", static_cast<qint64>(block)}};
    if (!m_failures.empty() && m_failures.back().block == block) {
        record.insert("failure", failuresJson({m_failures.back()}).first());
    }
    write(record);
}

void UpdateRecord::end(bool stopped) {
    bool ignored = false;
    for (const BlockFailure &failure : m_failures) {
        ignored = ignored || failure.answers.back() == "ignore";
    }
    const char *outcome = stopped   ? "stopped"
                          : ignored ? "completed-with-ignored-blocks"
                                    : "completed";
    write(QJsonObject{{"event", "end"},
                      {"ended", QString::fromStdString(journalTime())},
                      {"outcome", outcome},
                      {"failures", failuresJson(m_failures)}});
}

void UpdateRecord::write(QJsonObject record) {
    if (m_journal == nullptr || m_id.empty()) {
        return;
    }
    record.insert("id", QString::fromStdString(m_id));
    if (!m_journal->append(record)) {
        m_id.clear();  // said once; the rest of this update goes unrecorded
    }
}

QJsonObject unitJson(const std::string &address, const std::string &vendor,
                     const std::string &product, const std::string &revision) {
    return QJsonObject{{"address", QString::fromStdString(address)},
                       {"vendor", unitText(vendor)},
                       {"product", unitText(product)},
                       {"revision", unitText(revision)}};
}

QJsonObject fileJson(const std::string &path, const std::string &sha256) {
    return QJsonObject{{"path", QString::fromStdString(path)},
                       {"sha256", QString::fromStdString(sha256)}};
}

QJsonObject imageJson(long long length, const std::string &sha256, const std::string &edc) {
    return QJsonObject{{"length", length},
                       {"sha256", QString::fromStdString(sha256)},
                       {"edc", QString::fromStdString(edc)}};
}

QJsonArray failuresJson(const std::vector<BlockFailure> &failures) {
    QJsonArray array;
    for (const BlockFailure &failure : failures) {
        QJsonArray answers;
        for (const std::string &answer : failure.answers) {
            answers.append(QString::fromStdString(answer));
        }
        array.append(QJsonObject{
            {"block", static_cast<qint64>(failure.block)},
            {"result", failure.result},
            {"sense", failure.sense.empty() ? QJsonValue(QJsonValue::Null)
                                            : QJsonValue(QString::fromStdString(failure.sense))},
            {"answers", answers}});
    }
    return array;
}

std::string journalTime() {
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate).toStdString();
}

std::string hexBytes(const std::uint8_t *bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

std::string sha256Hex(const std::uint8_t *bytes, std::size_t length) {
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(length)),
        QCryptographicHash::Sha256);
    return digest.toHex().toStdString();
}

}  // namespace update
