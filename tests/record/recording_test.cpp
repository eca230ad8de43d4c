// Recording on the event loop: one program per folder, a restart into the same folder, and the
// service's retry after the folder failed.

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "record/qt/recording.h"
#include "tests/device/page_fakes.h"

namespace corvelle {
namespace {

TEST(Recording, AFolderHasOneWriterAndARestartTakesItOver) {
    QTemporaryDir dir;
    HostSinks sinks([](AcquisitionSink*) {});
    Recording first(sinks);
    ASSERT_FALSE(first.Start(dir.path()));
    Recording second(sinks);
    const auto refused = second.Start(dir.path());
    ASSERT_TRUE(refused.has_value());
    ASSERT_TRUE(refused->heldBy.has_value());
    EXPECT_EQ(*refused->heldBy, ProcessOwnerText());
    EXPECT_EQ(refused->OperatorText(),
              QStringLiteral("该文件夹正由另一个程序记录（%1）").arg(ProcessOwnerText()));
    // The stopped writer may still be at work: the new one takes the lock over and waits for it.
    first.Stop();
    EXPECT_FALSE(first.Start(dir.path()));
    first.Stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.AllWritten(); }));
    EXPECT_FALSE(second.Start(dir.path()));
}

TEST(Recording, AfterTheFolderFailedItIsTriedAgainOnTheResumeTimer) {
    QTemporaryDir dir;
    HostSinks sinks([](AcquisitionSink*) {});
    test::FakeTimer timer;
    Recording recording(sinks, {.keepDays = 0, .resumeAfterMs = 30000});
    recording.SetResumeTimer(&timer);
    QSignalSpy failed(&recording, &Recording::failed);
    const QString folder = dir.filePath(QStringLiteral("rec"));
    ASSERT_FALSE(recording.Start(folder));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(failed.wait(5000));
    EXPECT_EQ(failed.at(0).at(0).toString(),
              QStringLiteral("文件夹已被删除：") + QDir::toNativeSeparators(folder));
    EXPECT_FALSE(recording.IsRecording());
    EXPECT_EQ(timer.period, 30000U);
    recording.Resume();
    EXPECT_TRUE(recording.IsRecording());
    EXPECT_TRUE(QDir(folder).exists());
}

}  // namespace
}  // namespace corvelle
