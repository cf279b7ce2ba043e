// Two real processes: this test acts as the application, with its status
// port, and talks to the Vantrel executable of the build's bundle.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/ipc/IpcTestSupport.h"
#include "vantrel/ExportClient.h"

namespace {

// Checks the records of one export: progress of the sound phase, then of the
// movie phase rising to 1.0, no error, and the done record last.
void ExpectCompleteExport(const std::vector<ExportStatus>& inRecords, UInt32 inCookie) {
  ASSERT_GE(inRecords.size(), 4u);
  EXPECT_EQ(inRecords.back().kind, kExportStatusDone);
  UInt16 phase = kExportPhaseSound;
  Fixed last = -1;
  for (size_t i = 0; i + 1 < inRecords.size(); ++i) {
    const ExportStatus& s = inRecords[i];
    EXPECT_EQ(s.cookie, inCookie);
    ASSERT_EQ(s.kind, kExportStatusProgress) << "record " << i;
    if (s.phase != phase) {
      EXPECT_EQ(phase, kExportPhaseSound);  // sound first, then the movie, never back
      EXPECT_EQ(s.phase, kExportPhaseMovie);
      phase = s.phase;
      last = -1;
    }
    EXPECT_GE(s.fraction, last);
    last = s.fraction;
  }
  EXPECT_EQ(phase, kExportPhaseMovie);
  EXPECT_EQ(last, fixed1);
}

bool HasError(const std::vector<ExportStatus>& inRecords, SInt16 inError) {
  for (const ExportStatus& s : inRecords)
    if (s.kind == kExportStatusError) return s.error == inError;
  return false;
}

class VantrelProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VANTREL_STAND_IN_EXPORT", "5:80", 1);
    unsetenv("VANTREL_PORT_RETRY_MS");
  }
  void TearDown() override {
    unsetenv("VANTREL_STAND_IN_EXPORT");
    unsetenv("VANTREL_STAND_IN_HOLD");
  }
  StTempPortDirectory mPorts;
};

TEST_F(VantrelProcess, ExportsRunInOrderWithProgressThenDoneThenQuit) {
  // The first export waits before its last step until the second is queued.
  const std::string hold = mPorts.Path() + "/hold";
  FILE* holdFile = std::fopen(hold.c_str(), "w");
  ASSERT_NE(holdFile, nullptr);
  std::fclose(holdFile);
  setenv("VANTREL_STAND_IN_HOLD", hold.c_str(), 1);
  CExportClient client;
  ASSERT_TRUE(client.OpenProgressPort());
  ASSERT_TRUE(client.Launch());
  ASSERT_TRUE(client.Connect());

  std::string reply;
  ASSERT_EQ(client.Send(MakeRequest(0xA1), &reply), kCFMessagePortSuccess);
  EXPECT_EQ(reply, ReplyText(1));
  ASSERT_EQ(client.Send(MakeRequest(0xB2), &reply), kCFMessagePortSuccess);
  EXPECT_EQ(reply, ReplyText(2));  // the first is still queued or running
  ASSERT_EQ(std::remove(hold.c_str()), 0);

  ASSERT_TRUE(client.WaitForDone(0xB2));
  ExpectCompleteExport(client.StatusesOf(0xA1), 0xA1);
  ExpectCompleteExport(client.StatusesOf(0xB2), 0xB2);
  // One at a time, in the order of arrival.
  std::vector<ExportStatus> all = client.Statuses();
  size_t lastOfFirst = 0, firstOfSecond = all.size();
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].cookie == 0xA1) lastOfFirst = i;
    if (all[i].cookie == 0xB2 && i < firstOfSecond) firstOfSecond = i;
  }
  EXPECT_LT(lastOfFirst, firstOfSecond);
  // The done record as it arrived, byte for byte.
  std::vector<Bytes> raw = client.Records();
  EXPECT_EQ(raw.back(), (Bytes{0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xB2}));
  for (const Bytes& record : raw) EXPECT_EQ(record.size(), kExportStatusSize);

  // The queue is empty again: the next request is number 1.
  ASSERT_EQ(client.Send(MakeRequest(0xC3), &reply), kCFMessagePortSuccess);
  EXPECT_EQ(reply, ReplyText(1));
  bool hadReply = true;
  ASSERT_EQ(client.Send(Bytes{kExportCommandQuit}, &reply, &hadReply), kCFMessagePortSuccess);
  EXPECT_FALSE(hadReply);
  EXPECT_EQ(client.WaitForExit(120.0), 0);
  ExpectCompleteExport(client.StatusesOf(0xC3), 0xC3);  // queued before the quit: still ran
}

TEST_F(VantrelProcess, CancelAndQuitWhileOneRunsAndOneWaits) {
  setenv("VANTREL_STAND_IN_EXPORT", "10:100", 1);
  CExportClient client;
  ASSERT_TRUE(client.OpenProgressPort());
  ASSERT_TRUE(client.Launch());
  ASSERT_TRUE(client.Connect());
  ASSERT_EQ(client.Send(MakeRequest(1)), kCFMessagePortSuccess);
  ASSERT_EQ(client.Send(MakeRequest(2)), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitFor([](const std::vector<ExportStatus>& all) {
    for (const ExportStatus& s : all)
      if (s.cookie == 1 && s.phase == kExportPhaseMovie) return true;
    return false;
  }));
  bool hadReply = true;
  ASSERT_EQ(client.Send(Bytes{kExportCommandCancel}, nullptr, &hadReply), kCFMessagePortSuccess);
  EXPECT_FALSE(hadReply);
  ASSERT_EQ(client.Send(Bytes{kExportCommandQuit}), kCFMessagePortSuccess);
  EXPECT_EQ(client.WaitForExit(120.0), 0);

  std::vector<ExportStatus> first = client.StatusesOf(1);
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(first[first.size() - 2].kind, kExportStatusError);
  EXPECT_EQ(first[first.size() - 2].error, userCanceledErr);
  EXPECT_EQ(first.back().kind, kExportStatusDone);
  EXPECT_EQ(first.back().error, 0);
  ExpectCompleteExport(client.StatusesOf(2), 2);  // the waiting one was not cancelled
}

TEST_F(VantrelProcess, CancelAppliesOnlyToTheExportItNames) {
  setenv("VANTREL_STAND_IN_EXPORT", "8:60", 1);
  CExportClient client;
  ASSERT_TRUE(client.OpenProgressPort());
  ASSERT_TRUE(client.Launch());
  ASSERT_TRUE(client.Connect());

  // A cancel while nothing runs does not wait for the next export.
  ASSERT_EQ(client.Send(Bytes{kExportCommandCancel}), kCFMessagePortSuccess);
  UInt8 cancelNone[5];
  MakeCancelCommand(0x77, cancelNone);
  ASSERT_EQ(client.Send(Bytes(cancelNone, cancelNone + 5)), kCFMessagePortSuccess);
  ASSERT_EQ(client.Send(MakeRequest(0x10)), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitForDone(0x10));
  ExpectCompleteExport(client.StatusesOf(0x10), 0x10);

  // A bare cancel right behind a request stops that request, started or not.
  ASSERT_EQ(client.Send(MakeRequest(0x11)), kCFMessagePortSuccess);
  ASSERT_EQ(client.Send(Bytes{kExportCommandCancel}), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitForDone(0x11));
  EXPECT_TRUE(HasError(client.StatusesOf(0x11), userCanceledErr));

  // A cancel naming a waiting export leaves the running one alone; the named
  // one reports the cancel without running.
  ASSERT_EQ(client.Send(MakeRequest(0x20)), kCFMessagePortSuccess);
  ASSERT_EQ(client.Send(MakeRequest(0x30)), kCFMessagePortSuccess);
  ASSERT_EQ(client.Send(MakeRequest(0x40)), kCFMessagePortSuccess);
  UInt8 cancelThird[5];
  MakeCancelCommand(0x30, cancelThird);
  ASSERT_EQ(client.Send(Bytes(cancelThird, cancelThird + 5)), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitForDone(0x40));
  ExpectCompleteExport(client.StatusesOf(0x20), 0x20);
  std::vector<ExportStatus> third = client.StatusesOf(0x30);
  ASSERT_EQ(third.size(), 2u);
  EXPECT_EQ(third[0].kind, kExportStatusError);
  EXPECT_EQ(third[0].error, userCanceledErr);
  EXPECT_EQ(third[1].kind, kExportStatusDone);
  ExpectCompleteExport(client.StatusesOf(0x40), 0x40);

  // A cancel naming the running export stops it.
  ASSERT_EQ(client.Send(MakeRequest(0x50)), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitFor([](const std::vector<ExportStatus>& all) {
    for (const ExportStatus& s : all)
      if (s.cookie == 0x50 && s.phase == kExportPhaseMovie) return true;
    return false;
  }));
  MakeCancelCommand(0x50, cancelThird);
  ASSERT_EQ(client.Send(Bytes(cancelThird, cancelThird + 5)), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitForDone(0x50));
  EXPECT_TRUE(HasError(client.StatusesOf(0x50), userCanceledErr));

  ASSERT_EQ(client.Send(Bytes{kExportCommandQuit}), kCFMessagePortSuccess);
  EXPECT_EQ(client.WaitForExit(120.0), 0);
}

// A destination's alias record as the application makes it (by its path,
// with nothing made there), as bytes.
Bytes MakeDestination(const std::string& inPath) {
  FSSpec spec;
  AliasHandle alias = nullptr;
  FSMakeFSSpecFromPath(inPath, &spec);
  if (NewAliasToPath(&spec, &alias) != noErr) return Bytes();
  Handle h = reinterpret_cast<Handle>(alias);
  Bytes bytes(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + GetHandleSize(h));
  DisposeHandle(h);
  return bytes;
}

TEST_F(VantrelProcess, ACancelledExportLeavesNoDestination) {
  setenv("VANTREL_STAND_IN_EXPORT", "20:50", 1);
  CExportClient client;
  ASSERT_TRUE(client.OpenProgressPort());
  ASSERT_TRUE(client.Launch());
  ASSERT_TRUE(client.Connect());
  const std::string kept = mPorts.Path() + "/kept.mov", cancelled = mPorts.Path() + "/cancelled.mov";
  Bytes keptAlias = MakeDestination(kept), cancelledAlias = MakeDestination(cancelled);
  ASSERT_FALSE(keptAlias.empty());
  ASSERT_FALSE(cancelledAlias.empty());

  ASSERT_EQ(client.Send(MakeRequest(0x0C, true, true, cancelledAlias)), kCFMessagePortSuccess);
  ASSERT_EQ(client.Send(MakeRequest(0x0D, true, true, keptAlias)), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitFor([](const std::vector<ExportStatus>& all) { return !all.empty(); }));
  UInt8 cancel[5];
  MakeCancelCommand(0x0C, cancel);
  ASSERT_EQ(client.Send(Bytes(cancel, cancel + 5)), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitForDone(0x0D));
  EXPECT_TRUE(HasError(client.StatusesOf(0x0C), userCanceledErr));
  EXPECT_NE(access(cancelled.c_str(), F_OK), 0);
  EXPECT_EQ(access(kept.c_str(), F_OK), 0);
  ASSERT_EQ(client.Send(Bytes{kExportCommandQuit}), kCFMessagePortSuccess);
  EXPECT_EQ(client.WaitForExit(120.0), 0);
}

TEST_F(VantrelProcess, MalformedMessagesAreRefusedWithoutHarm) {
  CExportClient client;
  ASSERT_TRUE(client.OpenProgressPort());
  ASSERT_TRUE(client.Launch());
  ASSERT_TRUE(client.Connect());

  // No command, unknown commands, the heartbeat, a cut-off cancel: no reply, no effect.
  for (const Bytes& message : {Bytes{}, Bytes{0}, Bytes{9, 1, 2}, Bytes{kExportCommandHeartbeat}, Bytes{2, 0, 0}}) {
    bool hadReply = true;
    EXPECT_EQ(client.Send(message, nullptr, &hadReply), kCFMessagePortSuccess);
    EXPECT_FALSE(hadReply);
  }

  // A request with nothing in it, without the movie, without the settings,
  // or with a record running past its end: an error record, then done.
  std::string reply;
  ASSERT_EQ(client.Send(Bytes{kExportCommandExport}, &reply), kCFMessagePortSuccess);
  EXPECT_EQ(reply, ReplyText(1));
  ASSERT_EQ(client.Send(MakeRequest(0x61, false, true)), kCFMessagePortSuccess);
  ASSERT_EQ(client.Send(MakeRequest(0x62, true, false)), kCFMessagePortSuccess);
  Bytes truncated{kExportCommandExport};
  AppendRecord(truncated, kExportTagCookie, BE32(0x63));
  AppendBE32(truncated, kExportTagMovie);
  AppendBE32(truncated, 0x7FFFFFFF);
  truncated.insert(truncated.end(), 20, 0xAB);
  ASSERT_EQ(client.Send(truncated), kCFMessagePortSuccess);
  ASSERT_EQ(client.Send(MakeRequest(0x64)), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitForDone(0x64));

  const Bytes nilPointerError = {0, 1, 0, 0, 0, 0, 0, 0, 0x6C, 0x50, 0, 0, 0, 0, 0, 0};
  const Bytes doneWithoutCookie = {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<Bytes> raw = client.Records();
  ASSERT_GE(raw.size(), 2u);
  EXPECT_EQ(raw[0], nilPointerError);
  EXPECT_EQ(raw[1], doneWithoutCookie);
  for (UInt32 cookie : {0x61u, 0x62u}) {
    std::vector<ExportStatus> records = client.StatusesOf(cookie);
    ASSERT_EQ(records.size(), 2u) << cookie;
    EXPECT_EQ(records[0].kind, kExportStatusError);
    EXPECT_EQ(static_cast<UInt16>(records[0].error), 0x6C50);  // 'nilP' as an OSErr
    EXPECT_EQ(records[1].kind, kExportStatusDone);
  }
  std::vector<ExportStatus> damaged = client.StatusesOf(0x63);
  ASSERT_EQ(damaged.size(), 2u);
  EXPECT_EQ(damaged[0].error, paramErr);
  EXPECT_EQ(damaged[1].kind, kExportStatusDone);
  ExpectCompleteExport(client.StatusesOf(0x64), 0x64);

  EXPECT_EQ(kill(client.PID(), 0), 0);  // still there
  ASSERT_EQ(client.Send(Bytes{kExportCommandQuit}), kCFMessagePortSuccess);
  EXPECT_EQ(client.WaitForExit(120.0), 0);
}

TEST_F(VantrelProcess, StatusReachesAnApplicationPortMadeAfterTheLaunch) {
  CExportClient client;
  ASSERT_TRUE(client.Launch());
  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(client.OpenProgressPort());
  ASSERT_EQ(client.Send(MakeRequest(0x99)), kCFMessagePortSuccess);
  ASSERT_TRUE(client.WaitForDone(0x99));
  ExpectCompleteExport(client.StatusesOf(0x99), 0x99);
  ASSERT_EQ(client.Send(Bytes{kExportCommandQuit}), kCFMessagePortSuccess);
  EXPECT_EQ(client.WaitForExit(120.0), 0);
}

TEST_F(VantrelProcess, ASecondVantrelCannotStealThePort) {
  CExportClient first;
  ASSERT_TRUE(first.OpenProgressPort());
  ASSERT_TRUE(first.Launch());
  ASSERT_TRUE(first.Connect());

  setenv("VANTREL_PORT_RETRY_MS", "300", 1);
  CExportClient second;
  ASSERT_TRUE(second.Launch());
  int status = second.WaitForExit(120.0);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -1000);
  unsetenv("VANTREL_PORT_RETRY_MS");

  // The first still owns the port and serves it.
  std::string reply;
  ASSERT_EQ(first.Send(MakeRequest(0x5E), &reply), kCFMessagePortSuccess);
  EXPECT_EQ(reply, ReplyText(1));
  ASSERT_TRUE(first.WaitForDone(0x5E));
  ASSERT_EQ(first.Send(Bytes{kExportCommandQuit}), kCFMessagePortSuccess);
  EXPECT_EQ(first.WaitForExit(120.0), 0);
}

TEST_F(VantrelProcess, EndsWhenItsLauncherDiesEvenDuringAnExport) {
  setenv("VANTREL_STAND_IN_EXPORT", "1000:100", 1);
  // Vantrel becomes our child when its launcher dies, so that we can reap it.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t launcher = fork();
  ASSERT_GE(launcher, 0);
  if (launcher == 0) {
    // The application: launches Vantrel, starts an export, reports, waits to be killed.
    CExportClient client;
    pid_t vantrel = -1;
    if (client.OpenProgressPort() && client.Launch() && client.Connect() &&
        client.Send(MakeRequest(0xDEAD)) == kCFMessagePortSuccess &&
        client.WaitFor([](const std::vector<ExportStatus>& all) { return !all.empty(); }))
      vantrel = client.PID();
    ssize_t n = write(pipeFds[1], &vantrel, sizeof(vantrel));
    (void)n;
    pause();
    _exit(0);
  }
  pid_t vantrel = -1;
  ASSERT_EQ(read(pipeFds[0], &vantrel, sizeof(vantrel)), static_cast<ssize_t>(sizeof(vantrel)));
  close(pipeFds[0]);
  close(pipeFds[1]);
  ASSERT_GT(vantrel, 0);
  EXPECT_EQ(kill(vantrel, 0), 0);

  kill(launcher, SIGKILL);
  waitpid(launcher, nullptr, 0);
  auto start = std::chrono::steady_clock::now();
  int status = 0;
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
    if (waitpid(vantrel, &status, WNOHANG) == vantrel) ended = true;
    else std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!ended) {
    kill(vantrel, SIGKILL);
    waitpid(vantrel, nullptr, 0);
  }
  ASSERT_TRUE(ended) << "Vantrel outlived its launcher";
  EXPECT_TRUE(WIFEXITED(status));
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace

TEST_F(VantrelProcess, APortFolderOfAnotherUserIsNamedAsSuch) {
  if (geteuid() != 0) GTEST_SKIP() << "making a folder another user's needs root";
  ASSERT_EQ(chown(mPorts.Path().c_str(), 12345, 12345), 0);
  // Vantrel's messages go to the standard error it inherits.
  const std::string log = mPorts.Path() + ".log";
  const int saved = dup(2);
  FILE* out = std::fopen(log.c_str(), "w");
  ASSERT_NE(out, nullptr);
  dup2(fileno(out), 2);
  CExportClient client;
  const bool launched = client.Launch();
  const int status = launched ? client.WaitForExit(60.0) : -1;
  dup2(saved, 2);
  close(saved);
  std::fclose(out);
  ASSERT_EQ(chown(mPorts.Path().c_str(), 0, 0), 0);
  ASSERT_TRUE(launched);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -1000);
  std::string text;
  if (FILE* in = std::fopen(log.c_str(), "r")) {
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) text.append(buf, n);
    std::fclose(in);
  }
  unlink(log.c_str());
  EXPECT_NE(text.find("the port folder " + mPorts.Path() + " belongs to someone else"), std::string::npos) << text;
  EXPECT_EQ(text.find(": -48"), std::string::npos) << text;
}
