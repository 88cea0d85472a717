// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The journal of updates on the simulated bus: the lines an update writes however it ends, what
// a later start tells of them, what the reader makes of torn and hostile files, the command
// line's two reports read back, and an update whose journal cannot be written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "app/UpdateVerdicts.h"
#include "tests/support/WithoutPrivilege.h"
#include "tests/update/UpdateTestSupport.h"
#include "update/Journal.h"
#include "update/JournalReader.h"
#include "update/UpdateTrace.h"

using errors::CommandAnswer;
using update::UpdateOutcome;
using namespace update_test;

namespace {

// 40,000 data bytes make a 40,050-byte image: three blocks, the second of which may fail.
constexpr std::size_t kDataLength = 40000;
constexpr const char *kUnit =
    R"(unit 0 3 vendor "VEK     " product "CDRW 8432       " revision "1.10")";

// How the update ends. A block fails, but when it completes: the last one when it is ignored (an
// ignored middle block would fail the last one's EDC check), else the second.
enum class End { Completed, Ignored, Stopped, CutOff, Running };

std::string sha256(const Bytes &bytes) {
    return update::sha256Hex(bytes.data(), bytes.size());
}

QJsonObject jsonObject(const std::string &line) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
}

class Journaled : public UpdateBench {
  protected:
    void SetUp() override {
        UpdateBench::SetUp();
        setenv("CDRW_SIM_BOOT", "boot-1", 1);
        setenv("XDG_STATE_HOME", (bench.dir() / "state").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("CDRW_SIM_BOOT");
        unsetenv("XDG_STATE_HOME");
        UpdateBench::TearDown();
    }

    // Where the program keeps the journal, with XDG_STATE_HOME in the bench.
    std::string journalPath() const { return update::JournalSettings::defaultPath(); }
    update::Journal journalOn(const std::string &boot) const {
        return update::Journal({journalPath(), boot});
    }

    // Binds a bus with the bench's unit (given a new revision when `newRevision` is not empty)
    // and runs one update of lix.hex, recorded on boot-1, that ends as `end` says.
    void updateAndEnd(End end, const std::string &newRevision = "",
                      const std::string &failWords = "") {
        std::string bus = std::string("adapter 0 id 7\n") + kUnit;
        bus += newRevision.empty() ? "\n" : " newrevision \"" + newRevision + "\"\n";
        // Ignored, the last block; otherwise the second.
        if (end != End::Completed) {
            bus += end == End::Ignored ? "fail 0 3 offset 32768 " : "fail 0 3 offset 16384 ";
            bus += failWords + "\n";
        }
        bind(bus);
        pickFile("lix.hex", kDataLength);
        host.answers = {platform::Answer::No};
        const update::Journal journal = journalOn("boot-1");
        const auto run = [&] { return update::UpdateClick(state, windows, &journal); };
        switch (end) {
            case End::Completed:
            case End::Ignored:
                windows.dialog.answers = {CommandAnswer::Ignore};
                EXPECT_EQ(run(), UpdateOutcome::Declined);
                break;
            case End::Stopped:
                EXPECT_EQ(run(), UpdateOutcome::Stopped);
                break;
            case End::Running:  // the update is left in this process, which runs on
                windows.dialog.onShow = [] { throw std::runtime_error("left"); };
                EXPECT_THROW(run(), std::runtime_error);
                break;
            case End::CutOff: {  // the process is gone at the failure
                const pid_t child = ::fork();
                if (child == 0) {
                    windows.dialog.onShow = [] { ::_exit(0); };
                    run();
                    ::_exit(1);
                }
                int status = -1;
                ::waitpid(child, &status, 0);
                EXPECT_EQ(status, 0) << "the update went past its failed block";
                break;
            }
        }
    }

    // The journal's lines, in order.
    std::vector<QJsonObject> journalLines() const {
        std::vector<QJsonObject> lines;
        std::istringstream text(image_test::readFile(journalPath()));
        for (std::string line; std::getline(text, line);) {
            lines.push_back(jsonObject(line));
        }
        return lines;
    }

    // The program started again: the bus `bus` scanned on the simulated machine's boot `boot`,
    // which the journal takes as its own.
    std::vector<app::ListedUnit> restart(const std::string &bus, const std::string &boot) {
        bench.useBus(bus);
        setenv("CDRW_SIM_BOOT", boot.c_str(), 1);
        m_restarted = std::make_unique<units::MainState>();
        m_restarted->allocateBuffers();
        m_restarted->aspi.LoadAspiManager();
        ScriptedWindows view;
        view.bus = 0;
        units::ScanUnits(*m_restarted, view);
        return app::listedUnits(m_restarted->units, view.lines);
    }
    update::JournalContext restartedContext(const update::Journal &journal) const {
        return journal.context(m_restarted->aspi.simulated(), m_restarted->aspi.simulatedBoot());
    }

  private:
    std::unique_ptr<units::MainState> m_restarted;
};

// ---- The lines of each end ----

struct LinesRow {
    const char *name;
    End end;
    const char *outcome;  // null: no end line
    int blockLines;
    int failedBlock;
    std::vector<std::string> answers;  // to the failed block; none: none failed
    const char *failWords = "";        // how it fails; by default CHECK CONDITION, zero sense
    int result = 0x0204;
    QJsonValue sense = QString(36, '0');

    friend void PrintTo(const LinesRow &row, std::ostream *out) { *out << row.name; }
};

class JournalLines : public Journaled, public ::testing::WithParamInterface<LinesRow> {};

TEST_P(JournalLines, BeginBlocksAndEnd) {
    const LinesRow &row = GetParam();
    updateAndEnd(row.end, "", row.failWords);
    const std::vector<QJsonObject> lines = journalLines();
    ASSERT_EQ(lines.size(), std::size_t(1 + row.blockLines + (row.outcome ? 1 : 0)));

    const QJsonObject &begin = lines.front();
    EXPECT_EQ(begin["event"], "begin");
    EXPECT_FALSE(begin["started"].toString().isEmpty());
    EXPECT_EQ(begin["boot"], "boot-1");
    EXPECT_EQ(begin["program"], CDRW_VERSION);
    EXPECT_EQ(begin["manager"], "simulated");
    EXPECT_EQ(begin["unit"].toObject(), (QJsonObject{{"address", "0:7:3"},
                                                     {"vendor", "VEK     "},
                                                     {"product", "CDRW 8432       "},
                                                     {"revision", "1.10"}}));
    EXPECT_EQ(begin["bus"], "ATAPI");
    const QJsonObject file = begin["file"].toObject();
    EXPECT_EQ(file["path"].toString().toStdString(),
              std::filesystem::canonical("lix.hex").string());
    EXPECT_EQ(file["sha256"].toString().toStdString(),
              sha256(image_test::asBytes(image_test::readFile("lix.hex"))));
    const QJsonObject image = begin["image"].toObject();
    EXPECT_EQ(image["length"], int(kDataLength + 50));
    EXPECT_EQ(image["sha256"].toString().toStdString(), sha256(binBody("lix.bin")));
    if (row.end == End::Completed) {
        EXPECT_EQ(image["sha256"].toString().toStdString(), sha256(bench.image(0, 3)))
            << "the bytes the unit received";
    }
    EXPECT_EQ(begin["blocks"].toObject()["count"], 3);
    EXPECT_EQ(begin["transport"].toObject(), (QJsonObject{{"kind", "ata"}}));
    EXPECT_EQ(begin["power"], "not asked");

    for (int number = 1; number <= row.blockLines; ++number) {
        const QJsonObject &block = lines[number];
        EXPECT_EQ(block["event"], "block");
        EXPECT_EQ(block["id"], begin["id"]);
        EXPECT_EQ(block["block"], number);
    }
    if (row.outcome == nullptr) {
        return;
    }
    const QJsonObject &end = lines.back();
    EXPECT_EQ(end["event"], "end");
    EXPECT_EQ(end["id"], begin["id"]);
    EXPECT_EQ(end["outcome"], row.outcome);
    QJsonArray failures;
    if (!row.answers.empty()) {
        QJsonArray answers;
        for (const std::string &answer : row.answers) {
            answers.append(QString::fromStdString(answer));
        }
        failures.append(QJsonObject{{"block", row.failedBlock},
                                    {"result", row.result},
                                    {"sense", row.sense},
                                    {"answers", answers}});
    }
    EXPECT_EQ(end["failures"].toArray(), failures);
}

// Status 04h with a host adapter status, as a manager may report it: the sense bytes the program
// holds then are an earlier command's, not recorded.
constexpr const char *kHostFailure = "status 4 hastat 0x11";

INSTANTIATE_TEST_SUITE_P(
    EachEnd, JournalLines,
    ::testing::Values(
        LinesRow{"Completed", End::Completed, "completed", 3, 0, {}},
        LinesRow{"IgnoredBlock", End::Ignored, "completed-with-ignored-blocks", 3, 3, {"ignore"}},
        LinesRow{"Stopped", End::Stopped, "stopped", 1, 2, {"stop"}},
        LinesRow{"CutOff", End::CutOff, nullptr, 1, 2, {}},
        LinesRow{"HostFailure", End::Stopped, "stopped", 1, 2, {"stop"}, kHostFailure, 0x1104, {}}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- What a later start tells ----

struct VerdictRow {
    const char *name;
    End end;
    const char *newRevision;
    bool unitStays;    // the unit answers at its address after the restart
    const char *boot;  // of the restart
    const char *told;  // the end of the line shown; null: nothing is shown
    std::optional<QString> verdict;
    std::optional<QString> revisionAfter;
    bool realManager = false;         // the restart binds the real manager
    bool emptyFirst = false;          // a start that lists no unit comes first, on the same boot
    const char *unitAfter = nullptr;  // the unit's line after the restart, instead of the above

    friend void PrintTo(const VerdictRow &row, std::ostream *out) { *out << row.name; }
};

class Verdicts : public Journaled, public ::testing::WithParamInterface<VerdictRow> {};

TEST_P(Verdicts, ShownOnceAfterTheStartUpScan) {
    const VerdictRow &row = GetParam();
    updateAndEnd(row.end, row.newRevision);
    const std::string revision =
        *row.newRevision ? " newrevision \"" + std::string(row.newRevision) + "\"" : "";
    const std::string bus =
        row.unitAfter   ? std::string("adapter 0 id 7\n") + row.unitAfter + "\n"
        : row.unitStays ? std::string("adapter 0 id 7\n") + kUnit + revision + "\n"
                        : "adapter 0 id 7\nunit 0 4 vendor \"VEK     \" product \"CDRW 8432\"\n";
    const update::Journal journal = journalOn(row.boot);
    if (row.emptyFirst) {
        const std::vector<app::ListedUnit> none = restart("adapter 0 id 7\n", row.boot);
        const std::size_t linesBefore = journalLines().size();
        host.boxes.clear();
        app::showUpdateVerdicts(journal, restartedContext(journal), none);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_NE(host.boxes[0].text.find("No unit is listed now"), std::string::npos);
        EXPECT_EQ(journalLines().size(), linesBefore) << "no verdict while no unit is listed";
    }
    const std::vector<app::ListedUnit> units = restart(bus, row.boot);
    update::JournalContext now = restartedContext(journal);
    if (row.realManager) {
        now.manager = update::kManagerReal;
    }
    const std::size_t linesBefore = journalLines().size();
    host.boxes.clear();

    app::showUpdateVerdicts(journal, now, units);
    if (row.told == nullptr) {
        EXPECT_TRUE(host.boxes.empty()) << host.boxes.front().text;
        EXPECT_EQ(journalLines().size(), linesBefore);
        return;
    }
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].caption, std::optional<std::string>("Earlier firmware updates"));
    EXPECT_EQ(host.boxes[0].icon, platform::Icon::Information);
    const std::string &text = host.boxes[0].text;
    EXPECT_EQ(text.rfind("0:7:3 VEK CDRW 8432, update of ", 0), 0u) << text;
    const std::string told =
        " with " + std::filesystem::canonical("lix.hex").string() + ": " + row.told;
    EXPECT_TRUE(text.ends_with(told)) << text << "\nexpected the end: " << told;

    const QJsonObject verdict = journalLines().back();
    EXPECT_EQ(verdict["event"], "verdict");
    EXPECT_EQ(verdict["id"], journalLines().front()["id"]);
    EXPECT_EQ(verdict["verdict"], row.verdict ? QJsonValue(*row.verdict) : QJsonValue());
    EXPECT_EQ(verdict["revision_after"],
              row.revisionAfter ? QJsonValue(*row.revisionAfter) : QJsonValue());

    host.boxes.clear();
    app::showUpdateVerdicts(journal, now, units);
    EXPECT_TRUE(host.boxes.empty()) << "each verdict is shown once";
}

INSTANTIATE_TEST_SUITE_P(
    EachVerdict, Verdicts,
    ::testing::Values(
        VerdictRow{"TookEffect", End::Completed, "1.20", true, "boot-2",
                   "the new firmware took effect: revision 1.10 before, 1.20 now.", "took-effect",
                   "1.20"},
        VerdictRow{"NotInEffect", End::Completed, "", true, "boot-2",
                   "the unit still reports revision 1.10, so the new firmware is not in effect. "
                   "Perhaps it was the same firmware again; otherwise the restart did not switch "
                   "the unit off: switch the computer off completely, then on again.",
                   "not-in-effect", "1.10"},
        VerdictRow{"UnitNotFound", End::Completed, "", false, "boot-2",
                   "the updated unit was not found at 0:7:3 since the computer started again.",
                   "unit-not-found", std::nullopt},
        VerdictRow{"SameBoot", End::Completed, "1.20", true, "boot-1", nullptr, {}, {}},
        VerdictRow{"Stopped", End::Stopped, "1.20", true, "boot-2", nullptr, {}, {}},
        VerdictRow{"CutOff", End::CutOff, "", true, "boot-1",
                   "cut off after block 1 of 3. The unit may not work properly "
                   "until it gets its firmware again: update it again with the same file.",
                   std::nullopt, std::nullopt},
        VerdictRow{"StillRunning", End::Running, "", true, "boot-2", nullptr, {}, {}},
        VerdictRow{"OtherManager", End::Completed, "1.20", true, "boot-2", nullptr, {}, {}, true},
        // Units renumbered after a change of hardware: another model at the unit's address.
        VerdictRow{"OtherModelAtItsAddress", End::Completed, "1.20", true, "boot-2",
                   "the updated unit was not found at 0:7:3 since the computer started again.",
                   "unit-not-found", std::nullopt, false, false,
                   R"(unit 0 3 vendor "ZAV     " product "CD-RW ZR-1210   " revision "2.03")"},
        // A block ignored, yet the unit reports a new revision (the shell's rows: the same one).
        VerdictRow{"IncompleteWithNewRevision", End::Ignored, "", true, "boot-2",
                   "the unit did not take 1 of 3 blocks, so its firmware may be incomplete; it "
                   "reports revision 1.20 now. Update it again with the same file before you "
                   "switch the PC off.",
                   "incomplete", "1.20", false, false,
                   R"(unit 0 3 vendor "VEK     " product "CDRW 8432       " revision "1.20")"},
        VerdictRow{"EmptyListFirst", End::Completed, "1.20", true, "boot-2",
                   "the new firmware took effect: revision 1.10 before, 1.20 now.", "took-effect",
                   "1.20", false, true}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- The reader ----

constexpr const char *kBegin =
    R"({"event":"begin","id":"u1","started":"2026-01-02T03:04:05Z","boot":"b",)"
    R"("unit":{"address":"0:7:3","vendor":"VEK     ","product":"CDRW","revision":"1.10"},)"
    R"("blocks":{"count":3}})";
constexpr const char *kEnd =
    R"({"event":"end","id":"u1","ended":"2026-01-02T03:05:00Z","outcome":"completed"})";

// The begin line with its block count as a text.
const std::string wrongCount =
    std::string(kBegin).replace(std::string(kBegin).find("3}}"), 1, "\"3\"");

struct ReaderRow {
    const char *name;
    std::string text;
    bool ended;
    std::size_t skipped;
    std::size_t firstSkipped;

    friend void PrintTo(const ReaderRow &row, std::ostream *out) { *out << row.name; }
};

class JournalReader : public ::testing::TestWithParam<ReaderRow> {};

TEST_P(JournalReader, KeepsEveryGoodRecord) {
    const ReaderRow &row = GetParam();
    const update::JournalContents contents = update::parseJournal(row.text);
    ASSERT_EQ(contents.updates.size(), 1u);
    EXPECT_EQ(contents.updates[0].id, "u1");
    EXPECT_EQ(contents.updates[0].vendor, "VEK     ");
    EXPECT_EQ(contents.updates[0].ended.has_value(), row.ended);
    EXPECT_EQ(contents.skippedLines, row.skipped);
    EXPECT_EQ(contents.firstSkippedLine, row.firstSkipped);
}

std::string lines(std::initializer_list<std::string> each) {
    std::string text;
    for (const std::string &line : each) {
        text += line + "\n";
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    TornAndHostile, JournalReader,
    ::testing::Values(
        ReaderRow{"TornLastLine", lines({kBegin, kEnd}) + R"({"event":"verdict","id":"u1","ver)",
                  true, 1, 3},
        ReaderRow{"NotJsonAndWrongTypes",
                  lines({"garbage", wrongCount, "[1,2]",
                         R"({"event":"begin","id":"u1","started":1,"boot":"b"})", kBegin,
                         R"({"event":"end","id":"u1","ended":"t","outcome":"done"})"}),
                  false, 5, 1},
        ReaderRow{"UnknownFieldsAndKinds",
                  lines({std::string(kBegin).insert(1, R"("later":{"x":[1]},)"),
                         R"({"event":"later-kind","id":"u1"})", kEnd}),
                  true, 0, 0},
        ReaderRow{"OrphansAndRepeats", lines({kEnd, kBegin, kBegin, kEnd, "", kEnd}), true, 3, 1},
        ReaderRow{"HugeLine", lines({std::string(update::kMaxJournalLine + 1, '{'), kBegin}), false,
                  1, 1},
        ReaderRow{"BinaryBytes", std::string("\0\xff{\n", 4) + kBegin, false, 1, 1}),
    [](const auto &info) { return std::string(info.param.name); });

// A line that a power cut left cut short takes no line appended after it along.
TEST_F(Journaled, LineAfterATornOneStandsOnItsOwn) {
    std::filesystem::create_directories(std::filesystem::path(journalPath()).parent_path());
    image_test::writeFile(journalPath(), R"({"event":"begin","id":"u0","star)");
    EXPECT_TRUE(journalOn("b").append(jsonObject(kBegin)));
    update::JournalContents contents;
    ASSERT_TRUE(update::readJournal(journalPath(), contents));
    ASSERT_EQ(contents.updates.size(), 1u);
    EXPECT_EQ(contents.updates[0].id, "u1");
    EXPECT_EQ(contents.skippedLines, 1u);
}

// Anything but a regular file is refused at once: a folder, a link, a pipe nobody writes to.
TEST_F(Journaled, JournalThatIsNoFileIsRefused) {
    const std::filesystem::path path = journalPath();
    std::filesystem::create_directories(path.parent_path());
    image_test::writeFile("good.jsonl", lines({kBegin}));
    const std::vector<std::pair<const char *, std::function<void()>>> makers = {
        {"folder", [&] { std::filesystem::create_directory(path); }},
        {"link",
         [&] { std::filesystem::create_symlink(std::filesystem::absolute("good.jsonl"), path); }},
        {"pipe", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
    };
    for (const auto &[name, make] : makers) {
        std::filesystem::remove(path);
        make();
        auto read = std::async(std::launch::async, [&] {
            update::JournalContents contents;
            return update::readJournal(path, contents);
        });
        if (read.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
            ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));  // lets the reader go
            ADD_FAILURE() << "the reader waits on " << path;
        }
        EXPECT_FALSE(read.get()) << name;
    }
}

// ---- The command line's reports ----

// Runs the program with `options` and no display; its exit status and standard output. Its
// standard error goes to the file `errors`.
std::pair<int, std::string> runProgram(const std::string &options,
                                       const std::string &errors = "/dev/null") {
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                std::string(CDRW_BUILD_DIR) + "/cdrw-fwupdate " + options + " 2>" +
                                errors;
    FILE *pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

QJsonArray jsonArray(const std::string &text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).array();
}

TEST_F(Journaled, HistoryAndListReadBack) {
    updateAndEnd(End::Completed);
    const auto [historyStatus, historyText] = runProgram("--history --json");
    EXPECT_EQ(historyStatus, 0);
    const QJsonArray history = jsonArray(historyText);
    ASSERT_EQ(history.size(), 1) << historyText;
    const QJsonObject begin = journalLines().front();
    QJsonObject update = history[0].toObject();
    // The journal keeps the unit's texts as they came; the report drops their padding.
    QJsonObject unit = begin["unit"].toObject();
    unit["vendor"] = "VEK";
    unit["product"] = "CDRW 8432";
    EXPECT_FALSE(update.take("ended").toString().isEmpty());
    EXPECT_EQ(update.take("blocks").toObject(),
              (QJsonObject{{"count", 3}, {"done", 3}, {"failures", QJsonArray()}}));
    const std::string trace =
        update::tracePath(journalPath(), begin["id"].toString().toStdString());
    EXPECT_EQ(update.take("trace").toObject(),
              (QJsonObject{{"path", QString::fromStdString(trace)}, {"commands", 3}}));
    EXPECT_EQ(update, (QJsonObject{{"id", begin["id"]},
                                   {"started", begin["started"]},
                                   {"boot", "boot-1"},
                                   {"program", CDRW_VERSION},
                                   {"manager", "simulated"},
                                   {"unit", unit},
                                   {"bus", "ATAPI"},
                                   {"file", begin["file"]},
                                   {"image", begin["image"]},
                                   {"outcome", "completed"},
                                   {"verdict", QJsonValue()},
                                   {"revision_after", QJsonValue()}}));
    EXPECT_EQ(update["image"].toObject()["sha256"].toString().toStdString(),
              sha256(bench.image(0, 3)));

    const auto [listStatus, listText] = runProgram("--list --json");
    EXPECT_EQ(listStatus, 0);
    const QJsonArray listed{
        QJsonObject{{"address", "0:7:3"},
                    {"adapter", 0},
                    {"target", 3},
                    {"vendor", "VEK"},
                    {"product", "CDRW 8432"},
                    {"revision", "1.10"},
                    {"line", "0:7:3         VEK            CDRW 8432            1.10"},
                    {"eligible", true},
                    {"simulated", true},
                    {"transport", "ata"}}};
    EXPECT_EQ(jsonArray(listText), listed) << listText;

    image_test::writeFile(trace, "{}\n");
    EXPECT_EQ(jsonArray(runProgram("--history --json").second)[0].toObject()["trace"],
              (QJsonObject{{"path", QString::fromStdString(trace)}, {"commands", QJsonValue()}}))
        << "a trace that is no trace";
    std::filesystem::remove(trace);
    EXPECT_EQ(jsonArray(runProgram("--history --json").second)[0].toObject()["trace"],
              QJsonValue());

    std::filesystem::remove(journalPath());
    std::filesystem::create_directory(journalPath());
    EXPECT_EQ(runProgram("--history").first, 1) << "a journal that cannot be read";
    EXPECT_EQ(runProgram("--json").first, 2);
}

// The shell's starts that scan judge as the window's does: the first lists no unit, the next
// lists it; each says the verdicts due before its own words, and the verdict is recorded once.
TEST_F(Journaled, ShellStartsThatScanJudge) {
    updateAndEnd(End::Ignored, "1.20");
    setenv("CDRW_SIM_BOOT", "boot-2", 1);
    const std::string unit = std::string("adapter 0 id 7\n") + kUnit + " newrevision \"1.20\"\n";
    const struct {
        const char *options;
        std::string bus;
        const char *said;  // the first line ends so; null: no verdict is said
        int status;
        const char *verdict;  // --history's, after it
    } rows[] = {
        {"--update=lix.hex --unit=0:7:3", "adapter 0 id 7\n",
         "1 of 3 blocks, so its firmware may be incomplete: update it again with the same file "
         "before you switch the PC off. No unit is listed now (switched off, its driver not "
         "loaded yet, or held by another program), so the unit's revision is not known yet; it "
         "is looked at again at the next start that lists units.\n",
         1, "  no verdict yet"},
        {"--list", unit,
         "1 of 3 blocks, so its firmware may be incomplete; it reports revision 1.10 now. Update "
         "it again with the same file before you switch the PC off.\n",
         0, "  incomplete (1 of 3 blocks not taken, now 1.10)"},
        {"--list", unit, nullptr, 0, "  incomplete (1 of 3 blocks not taken, now 1.10)"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.options);
        bench.useBus(row.bus);
        EXPECT_EQ(runProgram(row.options, "errors.txt").first, row.status);
        const std::string said = image_test::readFile("errors.txt");
        const std::string first = said.substr(0, said.find('\n') + 1);
        EXPECT_EQ(said.rfind("cdrw-fwupdate: 0:7:3 VEK CDRW 8432, update of ", 0) == 0,
                  row.said != nullptr)
            << said;
        EXPECT_TRUE(!row.said || first.ends_with(row.said)) << said;
        const std::string history = runProgram("--history").second;
        EXPECT_TRUE(history.ends_with(std::string(row.verdict) + "\n")) << history;
    }
    const QJsonObject update = jsonArray(runProgram("--history --json").second)[0].toObject();
    EXPECT_EQ(update["verdict"], "incomplete");
    EXPECT_EQ(update["revision_after"], "1.10");
}

// ---- A journal that cannot be written ----

TEST_F(Journaled, UnwritableJournalLeavesTheUpdateAsItWas) {
    // The simulator's unit locks in the bench too, for the user below to take.
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string previous = runtime == nullptr ? "" : runtime;
    ::setenv("XDG_RUNTIME_DIR", bench.dir().c_str(), 1);
    bind(std::string("adapter 0 id 7\n") + kUnit + "\n");
    ::setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
    pickFile("lix.hex", kDataLength);
    host.answers = {platform::Answer::No};
    // The user's state folder is read-only; the bench is the user's to write.
    std::filesystem::create_directory("state");
    ::chmod("state", 0555);
    for (const char *name : {".", "images", "requests.log", "cdrw-fwupdate-sim"}) {
        ::chmod((bench.dir() / name).c_str(), 0777);
    }
    const update::Journal journal = journalOn("boot-1");
    testing::internal::CaptureStderr();
    UpdateOutcome outcome;
    {
        const testing_support::WithoutPrivilege user;
        outcome = update::UpdateClick(state, windows, &journal);
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome, UpdateOutcome::Declined);
    EXPECT_EQ(sentBlocks(bench).size(), 3u);
    EXPECT_EQ(bench.image(0, 3), binBody("lix.bin"));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Update completed. Shutdown PC.");
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("the update journal " + journalPath() + " cannot be written"),
              std::string::npos)
        << said;
}

// Each update's trace removes all but the newest fifty (other files and links stay); a trace that
// cannot be written is said once and changes nothing of the update.
TEST_F(Journaled, TracesKeepTheNewestFiftyAndNeverStopAnUpdate) {
    namespace fs = std::filesystem;
    const fs::path folder = update::traceFolder(journalPath());
    fs::create_directories(folder);
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (int age = 1; age <= 55; ++age) {
        const fs::path path = folder / ("old-" + std::to_string(age) + ".jsonl");
        image_test::writeFile(path, "{}\n");
        fs::last_write_time(path, old - std::chrono::minutes(age));
    }
    image_test::writeFile(folder / "notes.txt", "mine\n");
    fs::last_write_time(folder / "notes.txt", old - std::chrono::hours(2));
    fs::create_symlink(folder / "notes.txt", folder / "link.jsonl");
    updateAndEnd(End::Completed);
    const std::string id = journalLines().front()["id"].toString().toStdString();
    EXPECT_EQ(fs::status(update::tracePath(journalPath(), id)).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(fs::exists(folder / "old-49.jsonl"));
    EXPECT_FALSE(fs::exists(folder / "old-50.jsonl"));
    EXPECT_FALSE(fs::exists(folder / "old-55.jsonl"));
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));
    EXPECT_TRUE(fs::is_symlink(folder / "link.jsonl"));

    fs::remove_all(folder);
    image_test::writeFile(folder, "not a folder\n");
    testing::internal::CaptureStderr();
    updateAndEnd(End::Completed);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(sentBlocks(bench).size(), 6u);
    EXPECT_EQ(host.boxes.back().text, "Update completed. Shutdown PC.");
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("the update trace " + folder.string() + "/"), std::string::npos) << said;
    EXPECT_EQ(journalLines().back()["outcome"], "completed");
}

}  // namespace
