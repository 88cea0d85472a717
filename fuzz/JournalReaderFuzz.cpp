// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Fuzz target of the journal reader. Any text is read, with the longest line the program allows
// and again with a short one so that over-long lines are met often; each reading must describe
// consistent updates. Then a good begin line is appended after the text on a line of its own, as
// the journal's writer appends after a line cut short: whatever came before, its update must be
// read, unless the text itself holds a begin of that id.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "update/JournalReader.h"

namespace {

using fuzz_support::check;

constexpr std::size_t kShortLine = 64;
constexpr const char *kSentinelId = "sentinel-7f3a";
constexpr const char *kSentinel =
    R"({"event":"begin","id":"sentinel-7f3a","started":"t","boot":"b","unit":{"address":"0:7:2",)"
    R"("vendor":"VEK","product":"P","revision":"1"},"blocks":{"count":1}})";

bool isOneOf(const std::string &word, std::initializer_list<const char *> words) {
    for (const char *known : words) {
        if (word == known) {
            return true;
        }
    }
    return false;
}

void checkContents(const update::JournalContents &contents, std::string_view text) {
    const std::size_t lines =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    check(contents.skippedLines <= lines);
    check((contents.skippedLines == 0) == (contents.firstSkippedLine == 0));
    check(contents.firstSkippedLine <= lines);
    std::set<std::string> ids;
    for (const update::JournalUpdate &update : contents.updates) {
        check(!update.id.empty() && ids.insert(update.id).second);
        check(update.blocksDone <= update.blockCount);
        check(!update.ended ||
              isOneOf(update.outcome, {update::kOutcomeCompleted, update::kOutcomeIgnoredBlocks,
                                       update::kOutcomeStopped}));
        check(!update.verdict ||
              isOneOf(*update.verdict, {update::kVerdictTookEffect, update::kVerdictNotInEffect,
                                        update::kVerdictUnitNotFound}));
        check(update.judged || (!update.verdict && !update.revisionAfter));
        for (const update::BlockFailure &failure : update.failures) {
            check(failure.block >= 1);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    checkContents(update::parseJournal(text), text);
    checkContents(update::parseJournal(text, kShortLine), text);

    const std::string appended = text + "\n" + kSentinel + "\n";
    const update::JournalContents contents = update::parseJournal(appended);
    checkContents(contents, appended);
    bool found = false;
    for (const update::JournalUpdate &update : contents.updates) {
        found = found || update.id == kSentinelId;
    }
    check(found || text.find(kSentinelId) != std::string::npos);
    return 0;
}
