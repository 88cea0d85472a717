// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The trace of one update: every command sent to the unit, so that a failure on someone's drive
// can be read by anyone and replayed on the simulator (managers/sim/TraceBus.h).
//
// One file per update beside the journal (update/Journal.h):
// $XDG_STATE_HOME/cdrw-fwupdate/traces/<update id>.jsonl, one JSON object per line, appended and
// synced as the journal's lines are, 0600. The first line names the trace and its unit:
//
//   {"trace":1,"id":...,"program":"1.4.0","started":...,"manager":"real","bus":"ATAPI",
//    "unit":{"address":"0:7:3","vendor":...,"product":...,"revision":...[,"transport":...]},
//    "file":{"name":"lix1.hex","sha256":...},"blocks":3}
//
// then one line per command sent, in order:
//
//   {"command":1,"cdb":"3b06000000000000400000","direction":"out","length":16384,
//    "data_sha256":...,"aspi_status":4,"host_adapter_status":0,"target_status":2,
//    "sense":"70000600...","at_us":1200,"duration_us":830,"answer":"retry"}
//
// "sense" (18 bytes, lower-case hex) only when the command ended in CHECK CONDITION; "answer"
// ("retry", "ignore", "stop") only where the command error dialog asked. "at_us" counts from the
// first line, "duration_us" from hand-over to completion. A trace holds the SHA-256 of the data
// sent, never the data: no firmware, and of the HEX file only its name without its folder.
//
// A trace that cannot be written never stops or changes an update: the first failure is said in
// one line on standard error and the rest of that trace goes unwritten. The traces of the newest
// kKeptTraces updates are kept; each new trace removes the older ones.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "aspi/AspiRecords.h"

namespace update {

class Journal;
struct UpdateFacts;

inline constexpr std::size_t kKeptTraces = 50;
inline constexpr int kTraceFormat = 1;

// The folder of the traces beside the journal file at `journalPath`, and the trace of update `id`.
std::string traceFolder(const std::string &journalPath);
std::string tracePath(const std::string &journalPath, const std::string &id);

class UpdateTrace {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts the trace of update `id` in the journal's folder: writes its first line, then removes
    // all but the newest kKeptTraces traces there. Without a journal or an id nothing is traced.
    // The unit's transport is left out when it is unknown.
    void begin(const Journal *journal, const std::string &id, const UpdateFacts &facts);

    // One command sent: `sent` as the manager completed it (a record whose SRB_Cmd is not
    // SC_EXEC_SCSI_CMD was never handed over, and is not traced), its data at `data`, handed over
    // at `began` and completed at `ended`. `answer` is the dialog's, null where none was asked.
    void command(const aspi::SRB_ExecSCSICmd &sent, const std::uint8_t *data,
                 Clock::time_point began, Clock::time_point ended, const char *answer);

  private:
    std::string m_path;  // empty: nothing (more) is written
    Clock::time_point m_start;
    std::uint64_t m_count = 0;
};

// Removes from `folder` the traces (regular files named *.jsonl) beyond the newest `keep`, by
// modification time. Anything else there stays.
void pruneTraces(const std::string &folder, std::size_t keep = kKeptTraces);

}  // namespace update
