// Binding of the manager library by name. Each suite runs in its own process with
// LD_LIBRARY_PATH naming a folder that holds one form of test manager (see CMakeLists.txt).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>
#include <string>

#include "app/DownloadMain.h"
#include "aspi/AspiManager.h"
#include "tests/support/TestHost.h"

using testing_support::ProcessExit;
using testing_support::TestHost;

namespace {

// Constructs the main window, which binds the manager, and expects the fatal box and exit 1.
platform::MessageBoxRequest expectFatalBinding(TestHost &host) {
    EXPECT_THROW({ TMainForm form; }, ProcessExit);
    EXPECT_EQ(host.exitStatus, 1);
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(widget->isVisible()) << "a window was shown";
    }
    EXPECT_EQ(host.boxes.size(), 1u);
    return host.boxes.empty() ? platform::MessageBoxRequest{} : host.boxes.front();
}

template <typename Fn>
Fn fakeEntry(const char *name) {
    void *handle = dlopen(aspi::kManagerLibraryName, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(handle, nullptr);
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

TEST(BindingTexts, RowsTwoAndFourAreEightyEightCharacters) {
    EXPECT_EQ(std::strlen(aspi::kNoSupportInfoText), 88u);
    EXPECT_EQ(std::strlen(aspi::kNoSendCommandText), 88u);
    EXPECT_EQ(std::string(aspi::kNoSupportInfoText).substr(45, 16),
              std::string(" \t\t\t            "));
    EXPECT_EQ(std::string(aspi::kNoSendCommandText).substr(42, 19),
              std::string(" \t\t                "));
}

TEST(BindingNoLibrary, ShowsCantLoadAndExitsWithStatusOne) {
    TestHost host;
    const auto box = expectFatalBinding(host);
    EXPECT_EQ(box.text, "Can't load the ASPI Manager wnaspi32.DLL!");
    EXPECT_EQ(box.caption, std::optional<std::string>("Can't load !"));
    EXPECT_EQ(box.icon, platform::Icon::Warning);
}

TEST(BindingNoSupportInfo, ShowsRowTwoWithoutCaption) {
    TestHost host;
    const auto box = expectFatalBinding(host);
    EXPECT_EQ(box.text, aspi::kNoSupportInfoText);
    EXPECT_FALSE(box.caption.has_value());
    EXPECT_EQ(box.icon, platform::Icon::Warning);
}

TEST(BindingBadStatus, StatusByteE8ShowsInitialisationFailure) {
    TestHost host;
    const auto box = expectFatalBinding(host);
    EXPECT_EQ(box.text, "Failure in initializing ASPI manager!!!");
    EXPECT_FALSE(box.caption.has_value());
    EXPECT_EQ(box.icon, platform::Icon::Error);
}

TEST(BindingNoSend, ShowsRowFourOnlyAfterTheSupportWordPassed) {
    TestHost host;
    const auto box = expectFatalBinding(host);
    EXPECT_EQ(box.text, aspi::kNoSendCommandText);
    EXPECT_FALSE(box.caption.has_value());
    EXPECT_EQ(box.icon, platform::Icon::Error);
    EXPECT_EQ(fakeEntry<int (*)()>("FakeSupportAsked")(), 1);
}

class BindingGood : public ::testing::Test {
  protected:
    void SetUp() override {
        manager.LoadAspiManager();
        setReply = fakeEntry<SetReply>("FakeSetReply");
        lastExec = fakeEntry<LastExec>("FakeLastExec");
        ASSERT_NE(setReply, nullptr);
    }
    aspi::SRB_ExecSCSICmd execRecord() {
        aspi::SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
        srb.SRB_Flags = aspi::SRB_DIR_OUT;
        srb.SRB_SenseLen = 18;
        srb.SRB_CDBLen = 10;
        srb.CDBByte[0] = 0x3B;
        return srb;
    }
    using SetReply = void (*)(std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t,
                              const std::uint8_t *, int);
    using LastExec = void (*)(aspi::SRB_ExecSCSICmd *);
    TestHost host;
    aspi::AspiManager manager;
    SetReply setReply = nullptr;
    LastExec lastExec = nullptr;
    std::uint8_t sense[18] = {};
    const std::uint8_t unitSense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
};

TEST_F(BindingGood, SupportWord0102BindsWithTwoAdapters) {
    EXPECT_EQ(manager.AspiSupport(), 0x0102);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_FALSE(host.exitStatus.has_value());
}

TEST_F(BindingGood, CommandResultForSuccessAndErrors) {
    setReply(aspi::SS_COMP, 0, 0, 0, unitSense, 0);
    auto srb = execRecord();
    EXPECT_EQ(manager.SendAndWait(srb, sense), 0x0001);
    EXPECT_EQ(sense[2], 0) << "no sense copied without CHECK CONDITION";

    srb = execRecord();
    setReply(aspi::SS_ERR, 0, aspi::STATUS_CHKCOND, 0, unitSense, 0);
    EXPECT_EQ(manager.SendAndWait(srb, sense), 0x0204);
    EXPECT_EQ(0, std::memcmp(sense, unitSense, 18)) << "sense copied on CHECK CONDITION";

    // Host adapter status outranks the target status, and the sense buffer keeps what it held.
    std::uint8_t other[18] = {0x70, 0, 0x04};
    other[12] = 0x80;
    setReply(aspi::SS_ERR, aspi::HASTAT_SEL_TO, aspi::STATUS_CHKCOND, 0, other, 0);
    srb = execRecord();
    EXPECT_EQ(manager.SendAndWait(srb, sense), 0x1104);
    EXPECT_EQ(0, std::memcmp(sense, unitSense, 18));
}

TEST_F(BindingGood, RecordReachesTheManagerUnchanged) {
    setReply(aspi::SS_COMP, 0, 0, 0, unitSense, 0);
    auto srb = execRecord();
    srb.SRB_HaId = 1;
    srb.SRB_Target = 3;
    srb.SRB_BufLen = 16384;
    manager.SendAndWait(srb, sense);
    aspi::SRB_ExecSCSICmd seen{};
    lastExec(&seen);
    EXPECT_EQ(seen.SRB_Cmd, aspi::SC_EXEC_SCSI_CMD);
    EXPECT_EQ(seen.SRB_Status, aspi::SS_PENDING);
    EXPECT_EQ(seen.SRB_HaId, 1);
    EXPECT_EQ(seen.SRB_Target, 3);
    EXPECT_EQ(seen.SRB_BufLen, 16384u);
    EXPECT_EQ(seen.CDBByte[0], 0x3B);
}

TEST_F(BindingGood, PollWaitsForALateCompletionAndDeviceTypeResult) {
    setReply(aspi::SS_COMP, 0, 0, 5, unitSense, 30);
    aspi::SRB_GDEVBlock dev{};
    dev.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
    EXPECT_EQ(manager.SendAndWait(dev), 0x0501);

    setReply(aspi::SS_ERR, 0, aspi::STATUS_CHKCOND, 0, unitSense, 30);
    auto srb = execRecord();
    EXPECT_EQ(manager.SendAndWait(srb, sense), 0x0204);
    EXPECT_EQ(sense[12], 0x24);
}
