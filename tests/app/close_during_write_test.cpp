// Closing the real window while a write runs, under the offscreen platform against ifb-sim over a
// pseudo-terminal: the question, and on yes the uploader ended, the board's mode restored, the
// image removed and the window closed; on no the write goes on to its verdict.
#include "app/main_window.h"
#include "app/qt_ui.h"
#include "app/write_pc.h"
#include "diag/fake_network.h"
#include "e2e/e2e_support.h"
#include "platform/adapters.h"
#include "platform/app_paths.h"
#include "platform/tick_clock.h"
#include "update/auto_join.h"
#include "update/firmware_image.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using namespace nx7;

namespace
{

// Writes here never join an access point by themselves: the tests stay off the system's bus.
const bool kNoAutoJoin = [] {
    nx7::SetAutoJoinFactory([] { return std::unique_ptr<nx7::AutoJoin>(); });
    return true;
}();

const QString kQuestion = QStringLiteral("書き込み中です。中止して終了しますか？");

struct CloseCase {
    const char* name;
    QMessageBox::StandardButton answer;
    bool closed;
    QString verdict;
};

class CloseDuringWriteTest : public ::testing::TestWithParam<CloseCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SetExecutablePathOverride(dir.filePath(QStringLiteral("nx7ifbprog")));
        QtUserInteraction::beforeExec = [this](QDialog* d) { Answer(d); };
    }
    void TearDown() override
    {
        window.reset();
        QtUserInteraction::beforeExec = {};
        sim.Stop();
        SetClock(nullptr);
        SetFirmwareResourceRoot(QString());
        SetAdapterProvider({});
        AppCore::SetDefaultNetwork(nullptr);
        SetExecutablePathOverride(QString());
    }

    // Every dialog of the run, answered from inside its own loop.
    void Answer(QDialog* d)
    {
        auto* box = qobject_cast<QMessageBox*>(d);
        seen.append(box ? box->text() : d->objectName());
        if (box && box->text() == kQuestion)
            questionDefaultsToNo = box->defaultButton() == box->button(QMessageBox::No);
        const CloseCase c = GetParam();
        QTimer::singleShot(0, d, [d, box, c] {
            if (box && box->text() == kQuestion && c.answer == QMessageBox::NoButton) {
                QTest::keyClick(box, Qt::Key_Return); // the person just presses Enter
                return;
            }
            if (box) {
                box->button(box->text() == kQuestion                           ? c.answer
                            : box->standardButtons().testFlag(QMessageBox::Ok) ? QMessageBox::Ok
                                                                               : QMessageBox::No)
                    ->click();
                return;
            }
            const char* button = d->objectName() == QStringLiteral("ResultDlg") ? "Button1" : "OKBtn";
            if (auto* b = d->findChild<QPushButton*>(QLatin1String(button)))
                b->click();
            else
                d->reject();
        });
    }

    QTemporaryDir dir;
    e2e::Simulator sim;
    SteadyTickClock clock{4.0};
    std::unique_ptr<TNX7IFBProgAppForm> window;
    QStringList seen;
    bool questionDefaultsToNo = false;
};

TEST_P(CloseDuringWriteTest, QuestionDecides)
{
    const CloseCase& c = GetParam();
    // The uploader notes its process number, prints, and takes two seconds.
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    const QString uploader = dir.filePath(QStringLiteral("espota"));
    {
        QFile f(uploader);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("#!/bin/sh\necho $$ > '%1'\necho Uploading\nsleep 2\necho done\n")
                    .arg(pidFile)
                    .toUtf8());
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const QString ini = dir.filePath(QStringLiteral("Orvanta/nx7ifbprog.ini"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("Orvanta"))));
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=1200\nCONECT_WAIT_TIME=4000\n"
                               "Prog_WAIT_TIME=60000\nApp_ESPOta=%1\n")
                    .arg(uploader)
                    .toUtf8());
    }
    ASSERT_TRUE(sim.Start(ini, 9, dir.filePath(QStringLiteral("record.txt")),
                          {"--restart-ms", "60", "--mode", "0x0105", "--model", "PB-RL11 IFB", "--ota-result",
                           "OK", "--rom-after-update", "3030KMT27"}))
        << qPrintable(sim.Stderr());
    ASSERT_TRUE(test::PrepareWritePc(dir.path()));
    SetClock(&clock);

    window = std::make_unique<TNX7IFBProgAppForm>();
    QSignalSpy shown(window.get(), &TNX7IFBProgAppForm::firstShowFinished);
    window->show();
    ASSERT_TRUE(shown.wait(20000));
    ASSERT_TRUE(shown.first().first().toBool()) << qPrintable(seen.join(QLatin1Char('\n')));

    // The title bar's close as soon as the uploader runs.
    bool closeAsked = false;
    bool openAfterAnswer = false;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (closeAsked || QFileInfo(pidFile).size() == 0)
            return;
        closeAsked = true;
        window->close();
        openAfterAnswer = window->isVisible();
    });
    sampler.start(20);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    sampler.stop();

    ASSERT_TRUE(closeAsked);
    // The question was asked and, either way, the window stayed while the write ended.
    EXPECT_EQ(seen.count(kQuestion), 1) << qPrintable(seen.join(QLatin1Char('\n')));
    EXPECT_TRUE(openAfterAnswer);
    QTest::qWait(100);
    EXPECT_EQ(window->isVisible(), !c.closed);
    EXPECT_EQ(window->Core().Engine() == nullptr, c.closed);
    EXPECT_TRUE(seen.contains(QStringLiteral("ResultDlg")));
    const QStringList log =
        window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText().split('\n');
    EXPECT_TRUE(log.contains(c.verdict)) << qPrintable(log.join(QLatin1Char('\n')));
    EXPECT_TRUE(questionDefaultsToNo) << "Enter must not abort the write";
    // The question and its answer are in the pane and in the run's log.
    const QString asked = QStringLiteral("終了の確認: ") + kQuestion +
                          (c.closed ? QStringLiteral(" → はい") : QStringLiteral(" → いいえ"));
    EXPECT_TRUE(log.contains(asked)) << qPrintable(log.join(QLatin1Char('\n')));
    const QDir logs(dir.filePath(QStringLiteral("Orvanta/log")));
    const QStringList runLogs = logs.entryList({QStringLiteral("nx7ifbprog-*.log")}, QDir::Files);
    ASSERT_EQ(runLogs.size(), 1);
    QFile runLog(logs.filePath(runLogs.first()));
    ASSERT_TRUE(runLog.open(QIODevice::ReadOnly));
    const QString runText = QString::fromUtf8(runLog.readAll());
    EXPECT_TRUE(runText.contains(kQuestion));
    EXPECT_TRUE(runText.contains(asked));

    // The image is gone; the uploader too.
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("Orvanta"))).entryList({QStringLiteral("UOf*")}).isEmpty());
    QFile pid(pidFile);
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    const QByteArray number = pid.readAll().trimmed();
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(number)));
        gone = !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
        if (!gone)
            QThread::msleep(20);
    }
    EXPECT_TRUE(gone);

    // The write's own closing restored the mode; a close restores it once more.
    const QStringList requests = sim.Requests();
    const QString all = requests.join(QLatin1Char(' '));
    EXPECT_EQ(all.count(QStringLiteral("ModeSet(0105) Restart")), c.closed ? 2 : 1) << qPrintable(all);
    if (c.closed) {
        EXPECT_TRUE(all.endsWith(QStringLiteral("ModeSet(0105) Restart")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CloseDuringWriteTest,
    ::testing::Values(CloseCase{"YesAbortsAndCloses", QMessageBox::Yes, true,
                                QStringLiteral("NG:ファームウェアの書き込みを中止しました。")},
                      CloseCase{"NoLetsTheWriteFinish", QMessageBox::No, false,
                                QStringLiteral("OK:ファームウェア書き込みが正常に完了しました。")},
                      CloseCase{"EnterLetsTheWriteFinish", QMessageBox::NoButton, false,
                                QStringLiteral("OK:ファームウェア書き込みが正常に完了しました。")}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

} // namespace
