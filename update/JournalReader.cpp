// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "update/JournalReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

namespace update {

namespace {

constexpr long long kMaxBlocks = 1 << 24;
constexpr long long kMaxStamp = 1LL << 53;  // integers a JSON number holds exactly

bool integer(const QJsonValue &value, long long min, long long max, long long &out) {
    if (!value.isDouble()) {
        return false;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < double(min) ||
        number > double(max)) {
        return false;
    }
    out = static_cast<long long>(number);
    return true;
}

std::string utf8(const QJsonValue &value) {
    return value.toString().toStdString();
}

// A unit text back to the bytes it was written from.
std::string bytes(const QJsonValue &value) {
    return value.toString().toLatin1().toStdString();
}

// A text that must be there.
bool text(const QJsonObject &object, const char *key, std::string &out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString()) {
        return false;
    }
    out = utf8(value);
    return true;
}

// A text that may be missing or null; anything else is a fault.
bool optionalText(const QJsonObject &object, const char *key, std::optional<std::string> &out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isString()) {
        return false;
    }
    out = utf8(value);
    return true;
}

// A process stamp; null or missing is no process.
bool stamp(const QJsonValue &value, ProcessStamp &out) {
    if (value.isUndefined() || value.isNull()) {
        return true;
    }
    const QJsonObject object = value.toObject();
    return value.isObject() && integer(object.value("pid"), 1, 1LL << 31, out.pid) &&
           integer(object.value("start"), 0, kMaxStamp, out.start) &&
           text(object, "boot", out.boot);
}

bool failure(const QJsonValue &value, BlockFailure &out) {
    const QJsonObject object = value.toObject();
    long long block = 0;
    long long result = 0;
    std::optional<std::string> sense;
    if (!value.isObject() || !integer(object.value("block"), 1, kMaxBlocks, block) ||
        !integer(object.value("result"), 0, 0xFFFF, result) ||
        !optionalText(object, "sense", sense) || !object.value("answers").isArray()) {
        return false;
    }
    out.block = static_cast<std::uint32_t>(block);
    out.result = static_cast<std::uint16_t>(result);
    out.sense = sense.value_or(std::string());
    for (const QJsonValue answer : object.value("answers").toArray()) {
        if (!answer.isString()) {
            return false;
        }
        out.answers.push_back(utf8(answer));
    }
    return true;
}

bool failures(const QJsonValue &value, std::vector<BlockFailure> &out) {
    if (value.isUndefined()) {
        return true;
    }
    if (!value.isArray()) {
        return false;
    }
    for (const QJsonValue entry : value.toArray()) {
        BlockFailure read;
        if (!failure(entry, read)) {
            return false;
        }
        out.push_back(std::move(read));
    }
    return true;
}

bool isOneOf(const std::string &word, std::initializer_list<const char *> words) {
    for (const char *known : words) {
        if (word == known) {
            return true;
        }
    }
    return false;
}

// Builds the updates line by line.
class Reader {
  public:
    // Takes one line; false when it is not a record of a known update.
    bool take(const QByteArray &line) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            return false;
        }
        const QJsonObject record = document.object();
        std::string event;
        std::string id;
        if (!text(record, "event", event) || !text(record, "id", id) || id.empty()) {
            return false;
        }
        if (event == "begin") {
            return begin(record, id);
        }
        if (!isOneOf(event, {"block", "end", "verdict"})) {
            return true;  // a later version's kind of line
        }
        const auto found = m_index.find(id);
        if (found == m_index.end()) {
            return false;
        }
        JournalUpdate &update = m_contents.updates[found->second];
        if (event == "block") {
            return block(record, update);
        }
        if (event == "end") {
            return end(record, update);
        }
        return verdict(record, update);
    }

    JournalContents finish() {
        for (JournalUpdate &update : m_contents.updates) {
            if (!update.ended) {
                update.failures = std::move(m_blockFailures[update.id]);
            }
        }
        return std::move(m_contents);
    }

    void skip(std::size_t lineNumber) {
        if (m_contents.skippedLines++ == 0) {
            m_contents.firstSkippedLine = lineNumber;
        }
    }

  private:
    bool begin(const QJsonObject &record, const std::string &id) {
        JournalUpdate update;
        update.id = id;
        const QJsonObject unit = record.value("unit").toObject();
        const QJsonObject file = record.value("file").toObject();
        const QJsonObject image = record.value("image").toObject();
        long long count = 0;
        if (m_index.count(id) != 0 || !text(record, "started", update.started) ||
            !text(record, "boot", update.boot) || !record.value("unit").isObject() ||
            !text(unit, "address", update.unitAddress) || !unit.value("vendor").isString() ||
            !unit.value("product").isString() || !unit.value("revision").isString() ||
            !integer(record.value("blocks").toObject().value("count"), 0, kMaxBlocks, count) ||
            !stamp(record.value("process"), update.process) ||
            !stamp(record.value("keeper"), update.keeper)) {
            return false;
        }
        update.vendor = bytes(unit.value("vendor"));
        update.product = bytes(unit.value("product"));
        update.revision = bytes(unit.value("revision"));
        update.blockCount = static_cast<std::uint32_t>(count);
        // Facts only shown: taken when they are texts (or a number), else left empty.
        update.program = utf8(record.value("program"));
        update.manager = utf8(record.value("manager"));
        update.bus = utf8(record.value("bus"));
        update.filePath = utf8(file.value("path"));
        update.fileSha256 = utf8(file.value("sha256"));
        integer(image.value("length"), 0, kMaxStamp, update.imageLength);
        update.imageSha256 = utf8(image.value("sha256"));
        update.edc = utf8(image.value("edc"));
        m_index.emplace(id, m_contents.updates.size());
        m_contents.updates.push_back(std::move(update));
        return true;
    }

    bool block(const QJsonObject &record, JournalUpdate &update) {
        long long number = 0;
        if (!integer(record.value("block"), 1, update.blockCount, number)) {
            return false;
        }
        const QJsonValue failed = record.value("failure");
        BlockFailure read;
        if (!failed.isUndefined() && !failure(failed, read)) {
            return false;
        }
        if (!failed.isUndefined()) {
            m_blockFailures[update.id].push_back(std::move(read));
        }
        update.blocksDone = std::max(update.blocksDone, static_cast<std::uint32_t>(number));
        return true;
    }

    bool end(const QJsonObject &record, JournalUpdate &update) {
        std::string ended;
        std::string outcome;
        std::vector<BlockFailure> read;
        if (update.ended || !text(record, "ended", ended) || !text(record, "outcome", outcome) ||
            !isOneOf(outcome, {kOutcomeCompleted, kOutcomeIgnoredBlocks, kOutcomeStopped}) ||
            !failures(record.value("failures"), read)) {
            return false;
        }
        update.ended = ended;
        update.outcome = outcome;
        update.failures = std::move(read);
        return true;
    }

    bool verdict(const QJsonObject &record, JournalUpdate &update) {
        std::optional<std::string> verdict;
        std::optional<std::string> revisionAfter;
        if (!optionalText(record, "verdict", verdict) ||
            !optionalText(record, "revision_after", revisionAfter) ||
            (verdict && !isOneOf(*verdict, {kVerdictTookEffect, kVerdictNotInEffect,
                                            kVerdictUnitNotFound, kVerdictIncomplete}))) {
            return false;
        }
        if (!update.judged) {  // the first verdict is the one the user saw
            update.judged = true;
            update.verdict = verdict;
            update.revisionAfter = revisionAfter;
        }
        return true;
    }

    JournalContents m_contents;
    std::map<std::string, std::size_t> m_index;
    std::map<std::string, std::vector<BlockFailure>> m_blockFailures;
};

// Cuts text into lines and hands each to the reader; a line longer than the limit is skipped
// without being kept.
class LineSplitter {
  public:
    LineSplitter(Reader &reader, std::size_t maxLine) : m_reader(reader), m_maxLine(maxLine) {}

    void feed(const char *data, std::size_t size) {
        for (std::size_t start = 0; start < size;) {
            const void *newline = std::memchr(data + start, '\n', size - start);
            const std::size_t end =
                newline == nullptr ? size : static_cast<const char *>(newline) - data;
            if (!m_tooLong) {
                if (m_line.size() + (end - start) > m_maxLine) {
                    m_tooLong = true;
                    m_line.clear();
                } else {
                    m_line.append(data + start, static_cast<qsizetype>(end - start));
                }
            }
            if (newline == nullptr) {
                return;
            }
            endLine();
            start = end + 1;
        }
    }

    // The last line, which a power cut may have cut short.
    void finish() {
        if (!m_line.isEmpty() || m_tooLong) {
            endLine();
        }
    }

  private:
    void endLine() {
        ++m_number;
        const bool blank = !m_tooLong && m_line.trimmed().isEmpty();
        if (m_tooLong || (!blank && !m_reader.take(m_line))) {
            m_reader.skip(m_number);
        }
        m_line.clear();
        m_tooLong = false;
    }

    Reader &m_reader;
    std::size_t m_maxLine;
    QByteArray m_line;
    bool m_tooLong = false;
    std::size_t m_number = 0;
};

}  // namespace

bool stillRunning(const JournalUpdate &update) {
    return isRunning(update.process) || isRunning(update.keeper);
}

std::string outcomeOf(const JournalUpdate &update) {
    if (update.ended) {
        return update.outcome;
    }
    return stillRunning(update) ? kOutcomeRunning : kOutcomeCutOff;
}

std::size_t ignoredBlocks(const JournalUpdate &update) {
    return static_cast<std::size_t>(
        std::count_if(update.failures.begin(), update.failures.end(), [](const auto &failure) {
            return !failure.answers.empty() && failure.answers.back() == "ignore";
        }));
}

JournalContents parseJournal(std::string_view text, std::size_t maxLine) {
    Reader reader;
    LineSplitter lines(reader, maxLine);
    lines.feed(text.data(), text.size());
    lines.finish();
    return reader.finish();
}

bool readJournal(const std::string &path, JournalContents &contents) {
    contents = {};
    const char *problem = nullptr;
    int error = 0;
    // Without waiting on a pipe and without following a link, as the journal is written.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat entry {};
    if (fd < 0 && errno == ENOENT) {
        return true;
    }
    if (fd < 0) {
        problem = "it cannot be opened";
        error = errno;
    } else if (::fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode)) {
        problem = "it is not a regular file";
    }
    Reader reader;
    LineSplitter lines(reader, kMaxJournalLine);
    char buffer[65536];
    while (problem == nullptr) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            problem = "it cannot be read";
            error = errno;
        } else if (got == 0) {
            break;
        } else {
            lines.feed(buffer, static_cast<std::size_t>(got));
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    if (problem != nullptr) {
        std::fprintf(stderr, "cdrw-fwupdate: the update journal %s cannot be read: %s%s%s\n",
                     path.c_str(), problem, error != 0 ? ": " : "",
                     error != 0 ? std::strerror(error) : "");
        return false;
    }
    lines.finish();
    contents = reader.finish();
    if (contents.skippedLines > 0) {
        std::fprintf(stderr,
                     "cdrw-fwupdate: the update journal %s: %zu line(s) that are no update's "
                     "record skipped, the first is line %zu\n",
                     path.c_str(), contents.skippedLines, contents.firstSkippedLine);
    }
    return true;
}

}  // namespace update
