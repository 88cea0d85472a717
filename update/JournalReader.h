// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Reading the journal of updates (update/Journal.h) back into one record per update.
//
// The journal is outside data: a line cut short by a power cut, lines that are not JSON or not
// journal records, fields of the wrong type, huge lines, a file that is not a regular file. Every
// line is judged on its own: a line that is not a record of a known update is skipped and
// counted, and nothing else is lost. Fields this version does not know are passed over; the
// journal is only ever appended to, so they stay for the version that wrote them. A line of an
// event kind this version does not know is passed over without counting it as bad.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/Journal.h"

namespace update {

// The longest line read; a longer one is skipped without being kept in memory.
inline constexpr std::size_t kMaxJournalLine = 1 << 20;

inline constexpr const char *kOutcomeCompleted = "completed";
inline constexpr const char *kOutcomeIgnoredBlocks = "completed-with-ignored-blocks";
inline constexpr const char *kOutcomeStopped = "stopped";
inline constexpr const char *kOutcomeCutOff = "cut-off";
// Not written to the journal: an update without its end whose process or keeper still runs.
inline constexpr const char *kOutcomeRunning = "running";

inline constexpr const char *kVerdictTookEffect = "took-effect";
inline constexpr const char *kVerdictNotInEffect = "not-in-effect";
inline constexpr const char *kVerdictUnitNotFound = "unit-not-found";
// Blocks were ignored: the unit lacks them, whatever revision it reports.
inline constexpr const char *kVerdictIncomplete = "incomplete";

// One update as its lines tell it. Texts are UTF-8 but for the unit's, which hold one byte per
// character as the scan stored them.
struct JournalUpdate {
    std::string id;
    std::string started;
    std::string boot;
    std::string program;
    std::string manager;
    ProcessStamp process;
    ProcessStamp keeper;  // pid 0: no keeper
    std::string unitAddress;
    std::string vendor;
    std::string product;
    std::string revision;
    std::string bus;
    std::string filePath;
    std::string fileSha256;
    long long imageLength = 0;
    std::string imageSha256;
    std::string edc;
    std::uint32_t blockCount = 0;
    std::uint32_t blocksDone = 0;  // the highest block its block lines name
    // The end line's failures; without an end, those its block lines name.
    std::vector<BlockFailure> failures;

    std::optional<std::string> ended;  // the end line's time
    std::string outcome;               // the end line's outcome
    // A verdict line was written: the user has been told. Its verdict (none for an update that
    // was cut off) and the unit's revision then.
    bool judged = false;
    std::optional<std::string> verdict;
    std::optional<std::string> revisionAfter;
};

// True while the update's process, or its keeper, runs still (on this boot).
bool stillRunning(const JournalUpdate &update);
// The end line's outcome; without one kOutcomeRunning or kOutcomeCutOff.
std::string outcomeOf(const JournalUpdate &update);
// The failed blocks whose latest answer was Ignore: the blocks the unit never took.
std::size_t ignoredBlocks(const JournalUpdate &update);

struct JournalContents {
    std::vector<JournalUpdate> updates;  // in the order of their begin lines
    std::size_t skippedLines = 0;
    std::size_t firstSkippedLine = 0;  // 1 for the first line
};

// Reads journal text of any content. Lines longer than `maxLine` are skipped.
JournalContents parseJournal(std::string_view text, std::size_t maxLine = kMaxJournalLine);

// Reads the journal file at `path` into `contents`; a missing file is an empty journal. Skipped
// lines are said in one line on standard error. Returns false, having said why there, when the
// file cannot be read (not a regular file, no permission, a read error).
bool readJournal(const std::string &path, JournalContents &contents);

}  // namespace update
