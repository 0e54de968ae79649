// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/TranscriptPane.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/sim/ScpiServerProcess.h"
#include "work/TranscriptModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <map>

using namespace consoletest;

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The bytes of every entry of one kind, one after another.
QByteArray Joined(const CTranscript &transcript, CTranscriptEntry::Kind kind)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < transcript.Size(); ++i)
        if (transcript.At(i).kind == kind)
            bytes += transcript.At(i).data.bytes;
    return bytes;
}

} // namespace

class TestTranscriptPane : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static std::unique_ptr<Window> SocketWindow(int port)
    {
        ClearSettings();
        Store(QStringLiteral("VISA/TimeoutMs"), 3000);
        auto w = std::make_unique<Window>();
        (*w)->StartWithResource(QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(port));
        w->control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        return w;
    }

    static void Send(Window &w, const QString &command)
    {
        w.control<QComboBox>(IDC_COMMAND)->setEditText(command);
        w->OnSend();
    }

private slots:
    void initTestCase() { UseTestSettings(); }

    // Hidden, the window is as it always was; shown, the pane lies right of
    // the controls, which keep their places, and takes whatever room the
    // window is given.
    void paneBesideTheControls()
    {
        ClearSettings();
        Window w;
        w->show();
        const QSize fixed = w->size();
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(w->TranscriptPane() == nullptr);
        std::map<QWidget *, QRect> places;
        for (QWidget *child : w->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            places[child] = child->geometry();

        w->ShowTranscript(true);
        CTranscriptPane *pane = w->TranscriptPane();
        QVERIFY(pane && pane->isVisible() == w->isVisible() && !pane->isHidden());
        QCOMPARE(pane->x(), fixed.width());
        QCOMPARE(pane->height(), w->height());
        QVERIFY(w->width() > fixed.width());
        QVERIFY(w->maximumWidth() > w->minimumWidth());
        for (const auto &[child, place] : places)
            QCOMPARE(child->geometry(), place);
        QCOMPARE(Stored(QStringLiteral("Window/Transcript")).toInt(), 1);

        w->resize(fixed.width() + 600, fixed.height() + 100);
        QCOMPARE(pane->width(), 600);
        QCOMPARE(pane->height(), fixed.height() + 100);
        w->ShowTranscript(false);
        QCOMPARE(w->size(), fixed);
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QCOMPARE(Stored(QStringLiteral("Window/Transcript")).toInt(), 0);
        QCOMPARE(Stored(QStringLiteral("Window/TranscriptWidth")).toInt(), 600);

        // The next window opens as this one was left, at the stored width;
        // a run's own choice (--transcript) is not stored.
        Store(QStringLiteral("Window/Transcript"), 1);
        Window next;
        QVERIFY(next->TranscriptShown());
        QCOMPARE(next->width(), fixed.width() + 600);
        ClearSettings();
        Window once;
        once->ShowTranscript(true, false);
        QVERIFY(!Stored(QStringLiteral("Window/Transcript")).isValid());
    }

    // A logged batch over a SOCKET resource: the commands in the
    // transcript are what the server received, the replies what it sent,
    // byte for byte; saved as a log, the transcript is the run's log; saved
    // as a command file, it replays the batch.
    void loggedBatchIsWhatTheServerSaw()
    {
        const QString received = m_dir.filePath(QStringLiteral("received.bin"));
        const QString sent = m_dir.filePath(QStringLiteral("sent.bin"));
        QFile::remove(received);
        QFile::remove(sent);
        CScpiServerProcess server;
        const int port = server.Start({QStringLiteral("--log"), received, QStringLiteral("--sent"), sent});
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        auto w = SocketWindow(port);
        (*w)->ShowTranscript(true, false);

        const QString commands = m_dir.filePath(QStringLiteral("batch.txt"));
        QByteArray batch;
        for (int i = 0; i < 10000; ++i)
            batch += i % 1000 == 999 ? "CURV?\r\n" : i % 2 ? "MEAS:VOLT?\r\n" : "*IDN?\r\n";
        QFile file(commands);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(batch);
        file.close();
        const QString logPath = m_dir.filePath(QStringLiteral("batch.log"));
        QFile::remove(logPath);
        (*w)->SetPrompts({.askOpenFile =
                              [&]() {
                                  return COpenFileChoice{true, commands, QStringLiteral("batch.txt"), true};
                              },
                          .askSaveFile = [&](const QString &) { return logPath; }});
        (*w)->OnOpenFile();
        (*w)->OnSendFile();
        QCOMPARE(w->messages, QStringList());
        (*w)->CloseCommandFiles();

        const CTranscript &transcript = (*w)->Transcript();
        QCOMPARE(transcript.Size(), 20000);
        QCOMPARE(transcript.Dropped(), 0);
        QCOMPARE(Joined(transcript, CTranscriptEntry::Kind::Command), batch);
        // The server's records of the same run, once it has written them.
        QTRY_COMPARE(ReadAll(received).size(), batch.size());
        QCOMPARE(ReadAll(received), batch);
        const QByteArray replies = Joined(transcript, CTranscriptEntry::Kind::Reply);
        QTRY_COMPARE(ReadAll(sent).size(), replies.size());
        QVERIFY(ReadAll(sent) == replies);
        for (qsizetype i = 0; i < 4; ++i) {
            const CTranscriptEntry &entry = transcript.At(i);
            QCOMPARE(entry.link, QStringLiteral("VISA Resource"));
            QCOMPARE(entry.target, QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(port));
        }
        QVERIFY(transcript.At(1).durationMs >= 0);
        // Every entry reached the list, the newest in view.
        CTranscriptPane *pane = (*w)->TranscriptPane();
        QTRY_COMPARE(pane->Model().rowCount(), 20000);
        QScrollBar *bar = pane->List()->verticalScrollBar();
        QTRY_COMPARE(bar->value(), bar->maximum());

        const QString savedLog = m_dir.filePath(QStringLiteral("saved.log"));
        const QString savedCommands = m_dir.filePath(QStringLiteral("saved.txt"));
        (*w)->SetPrompts({.askSaveTranscript = [&]() {
            return CTranscriptSaveChoice{savedLog, TranscriptForm::Log};
        }});
        pane->SaveAs();
        QVERIFY(ReadAll(savedLog) == ReadAll(logPath));
        (*w)->SetPrompts({.askSaveTranscript = [&]() {
            return CTranscriptSaveChoice{savedCommands, TranscriptForm::CommandFile};
        }});
        pane->SaveAs();
        QCOMPARE(ReadAll(savedCommands), batch);
        QCOMPARE(w->messages, QStringList());
    }

    // Failures the user was told of and Stops are entries too, in order.
    void failuresAndStops()
    {
        CScpiServerProcess server;
        const int port = server.Start({QStringLiteral("--never-answer")});
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        auto w = SocketWindow(port);
        QTimer stopper;
        stopper.setInterval(100);
        QObject::connect(&stopper, &QTimer::timeout, [&]() {
            auto *stop = w->control<QPushButton>(IDC_STOP);
            if (stop->isVisible())
                stop->click();
        });
        stopper.start();
        (*w)->show();
        w->control<QComboBox>(IDC_COMMAND)->setEditText(QStringLiteral("*IDN?"));
        w->control<QPushButton>(IDC_SEND)->click();
        stopper.stop();
        const CTranscript &transcript = (*w)->Transcript();
        QStringList kinds;
        for (qsizetype i = 0; i < transcript.Size(); ++i)
            kinds << TranscriptKindName(transcript.At(i).kind);
        QCOMPARE(kinds.mid(0, 2), (QStringList{"Command", "Stop"}));
        QCOMPARE(w->messages.size(), 1);
        QCOMPARE(transcript.At(transcript.Size() - 1).kind, CTranscriptEntry::Kind::Failure);
        QCOMPARE(transcript.At(transcript.Size() - 1).text, w->messages.at(0));
    }

    // What an entry offers: its bytes, Send Again, the command box, Find,
    // the filter, and the way back to the newest entry.
    void entryActions()
    {
        CScpiServerProcess server;
        const int port = server.Start();
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        auto w = SocketWindow(port);
        QByteArray hexBytes;
        QString savedSuggestion;
        const QString replyPath = m_dir.filePath(QStringLiteral("reply.bin"));
        (*w)->SetPrompts({.askSaveReply =
                              [&](const QString &suggested) {
                                  savedSuggestion = suggested;
                                  return replyPath;
                              },
                          .runHexView = [&](const QByteArray &bytes, const QString &) { hexBytes = bytes; }});
        (*w)->ShowTranscript(true, false);
        CTranscriptPane *pane = (*w)->TranscriptPane();
        Send(*w, QStringLiteral("*IDN?"));
        Send(*w, QStringLiteral("MEAS:VOLT?"));
        pane->Model().Sync();
        QCOMPARE(pane->Model().rowCount(), 4);

        // Enter on an entry opens its bytes; the window does not send.
        pane->List()->setCurrentIndex(pane->Model().index(2));
        QTest::keyClick(pane->List(), Qt::Key_Return);
        QCOMPARE(hexBytes, QByteArray("MEAS:VOLT?\r\n"));
        pane->Model().Sync();
        QCOMPARE(pane->Model().rowCount(), 4);

        pane->SaveBytes(3);
        QCOMPARE(savedSuggestion, QStringLiteral("reply.bin"));
        QCOMPARE(ReadAll(replyPath), (*w)->Transcript().At(3).data.bytes);

        pane->CopyToCommandBox(0);
        QCOMPARE(w->control<QComboBox>(IDC_COMMAND)->currentText(), QStringLiteral("*IDN?"));
        pane->SendAgain(2);
        pane->Model().Sync();
        QCOMPARE(pane->Model().rowCount(), 6);
        QCOMPARE((*w)->Transcript().At(4).data.bytes, QByteArray("MEAS:VOLT?\r\n"));
        QCOMPARE((*w)->Transcript().At(5).kind, CTranscriptEntry::Kind::Reply);
        QVERIFY(!(*w)->Transcript().At(5).data.bytes.isEmpty());

        pane->FindBox()->setText(QStringLiteral("meas"));
        pane->FindNext(true);
        QCOMPARE(pane->List()->currentIndex().row(), 4);
        pane->FindNext(true);
        QCOMPARE(pane->List()->currentIndex().row(), 2);
        pane->FilterBox()->setCurrentIndex(2);
        QCOMPARE(pane->Model().rowCount(), 0);
        pane->FilterBox()->setCurrentIndex(0);

        // Scrolled up, new entries are counted, not jumped to.
        (*w)->resize((*w)->width(), (*w)->minimumHeight());
        (*w)->show();
        for (int i = 0; i < 20; ++i)
            Send(*w, QStringLiteral("*IDN?"));
        QCoreApplication::processEvents();
        pane->List()->verticalScrollBar()->setValue(0);
        Send(*w, QStringLiteral("*IDN?"));
        QCoreApplication::processEvents();
        QCOMPARE(pane->NewCount(), 2);
        QVERIFY(!pane->NewButton()->isHidden());
        QCOMPARE(pane->NewButton()->text(), QStringLiteral("\u2193 2 new"));
        pane->JumpToNewest();
        QVERIFY(pane->NewButton()->isHidden());
        QCOMPARE(pane->List()->verticalScrollBar()->value(), pane->List()->verticalScrollBar()->maximum());
    }
};

QTEST_MAIN(TestTranscriptPane)
#include "tst_transcriptpane.moc"
