// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The journal of updates: one file per user, $XDG_STATE_HOME/cdrw-fwupdate/journal.jsonl
// (~/.local/state/cdrw-fwupdate/journal.jsonl when the variable is unset), one JSON object per
// line, with "event" naming its kind and "id" its update:
//
//   begin    right before the first block, once the guard and the unit's hold are taken: when,
//            the boot, this program and its process, the manager, the unit as the scan found it,
//            the bus form, the HEX file, the image as sent and its block count
//   block    after each block the unit took or the user ignored, with that block's failures
//   end      after the wait, or at Stop: when, the outcome and every block's failures
//   verdict  at a later start, once the user has been told what became of the update
//
// A "begin" without its "end" is an update that was cut off. Nothing is sent to a unit for the
// journal: it records what the update already knows.
//
// Each line is appended with one write() and synced, to a file opened without following a link,
// 0600 in a folder made 0700. A journal that cannot be written never stops or changes an update:
// the first failure is said in one line on standard error and the rest of that update goes
// unrecorded.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <cstdint>
#include <string>
#include <vector>

namespace update {

inline constexpr const char *kManagerReal = "real";
inline constexpr const char *kManagerSimulated = "simulated";

struct JournalSettings {
    // The journal file; the program uses the default.
    std::string path = defaultPath();
    // The boot this start counts as; empty: the simulated machine's when the manager simulates
    // one, else the kernel's. Only tests set it.
    std::string bootId;

    // $XDG_STATE_HOME/cdrw-fwupdate/journal.jsonl, with ~/.local/state for a variable that is
    // unset, empty or not an absolute path.
    static std::string defaultPath();
};

// The kernel's id of the running boot (/proc/sys/kernel/random/boot_id); empty when unreadable.
std::string kernelBootId();

// A process as the journal names it: its id, its start time in clock ticks after boot (field 22
// of /proc/PID/stat) and the kernel's boot id, so that a later process with the same id is not
// taken for it.
struct ProcessStamp {
    long long pid = 0;
    long long start = 0;
    std::string boot;
};

// The stamp of a running process; pid 0 when it does not run.
ProcessStamp stampOf(long long pid);
// The process runs still: same boot, and a process of that id started at that time.
bool isRunning(const ProcessStamp &process);

// What the machine is now, for the journal: the boot and which manager serves the program.
struct JournalContext {
    std::string boot;
    std::string manager;  // kManagerReal or kManagerSimulated
};

// One failed block: its latest failure's command result and sense data (lower-case hex; empty
// unless that failure was a CHECK CONDITION, result 0x0204), and every answer given to it, oldest
// first
// ("retry", "ignore", "stop"), the latest kMaxAnswers.
struct BlockFailure {
    static constexpr std::size_t kMaxAnswers = 1000;
    std::uint32_t block = 0;  // 1 for the first block
    std::uint16_t result = 0;
    std::string sense;
    std::vector<std::string> answers;
};

class Journal {
  public:
    explicit Journal(JournalSettings settings = {}) : m_settings(std::move(settings)) {}

    const JournalSettings &settings() const { return m_settings; }

    // The boot and the manager now: `simulated` when the bound manager simulates its units, on
    // a machine whose boot is `simulatedBoot`.
    JournalContext context(bool simulated, const std::string &simulatedBoot) const;

    // Appends `record` as one line, making the folder when missing, and syncs it. Returns false,
    // having said why on standard error, when it cannot.
    bool append(const QJsonObject &record) const;

  private:
    JournalSettings m_settings;
};

// Appends `record` as one line to the file at `path` as the journal appends its lines: the folder
// made 0700 when missing, the file 0600 and never through a link, the line written with one
// write() and synced. Returns false, having said on standard error that the `what` (a few words:
// "update journal") cannot be written and why, when it cannot.
bool appendJsonLine(const std::string &path, const QJsonObject &record, const char *what);

// What an update knows of itself when it sends its first block.
struct UpdateFacts {
    JournalContext context;
    std::string unitAddress;  // as the unit list shows it: adapter:own id:target
    // The unit's INQUIRY texts as the scan stored them, each byte a character.
    std::string vendor;
    std::string product;
    std::string revision;
    std::string bus;  // "SCSI" or "ATAPI"
    std::string filePath;
    std::string fileSha256;
    const std::uint8_t *image = nullptr;  // the bytes as sent
    std::uint32_t imageLength = 0;        // how many are sent
    std::uint32_t edc = 0;
    std::uint32_t blockCount = 0;
    long long keeperPid = 0;  // 0: no keeper
    // How the unit is attached ("ata", "usb", "scsi", "unknown") with, for usb, the bridge's id;
    // and the power supply right before the first block ("mains", "battery 80 %", "unknown").
    std::string transport = "unknown";
    std::string usbId;
    std::string power = "not asked";
};

// The journal's record of one update, written as the update goes. Records nothing without a
// journal, and nothing more once a line could not be written.
class UpdateRecord {
  public:
    explicit UpdateRecord(const Journal *journal) : m_journal(journal) {}

    void begin(const UpdateFacts &facts);
    // A failure of block `block` (1 for the first) and the answer given to it.
    void blockFailed(std::uint32_t block, std::uint16_t result, const std::uint8_t *sense,
                     bool senseValid, const char *answer);
    // The block was taken, or ignored.
    void blockDone(std::uint32_t block);
    // The update ended: after the wait, or `stopped`.
    void end(bool stopped);
    // The update's id once begin() has written its line; empty before, and once a line could
    // not be written.
    const std::string &updateId() const { return m_id; }

  private:
    void write(QJsonObject record);

    const Journal *m_journal;
    std::string m_id;
    std::vector<BlockFailure> m_failures;
};

// The parts of a begin line as the journal writes them, and --history after it: the unit (its
// texts one byte per character), the HEX file, the image as sent, the failures.
QJsonObject unitJson(const std::string &address, const std::string &vendor,
                     const std::string &product, const std::string &revision);
QJsonObject fileJson(const std::string &path, const std::string &sha256);
QJsonObject imageJson(long long length, const std::string &sha256, const std::string &edc);
QJsonArray failuresJson(const std::vector<BlockFailure> &failures);
// The time now, as the journal writes it: ISO 8601 with the local offset.
std::string journalTime();
// `count` bytes in lower-case hex, two digits each.
std::string hexBytes(const std::uint8_t *bytes, std::size_t count);
// Lower-case hex SHA-256 of `length` bytes.
std::string sha256Hex(const std::uint8_t *bytes, std::size_t length);

}  // namespace update
