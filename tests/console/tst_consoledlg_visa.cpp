// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/FindDlg.h"
#include "tests/console/ConsoleTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

using namespace consoletest;

// The row of the VISA Resource link as a user works it: the resource box
// with the resources used before, Find..., and --resource; against the
// simulated GPIB library, which both the GPIB INSTR session and the search
// of board 0 load by its bare name.
class TestConsoleDlgVisa : public QObject
{
    Q_OBJECT

private:
    static void Send(Window &w, const QString &command)
    {
        w.control<QComboBox>(IDC_COMMAND)->setEditText(command);
        w->OnSend();
    }

private slots:
    void initTestCase()
    {
        UseTestSettings();
        // The serial ports' locks where no other program looks.
        static QTemporaryDir locks;
        qputenv("TALLIX_LOCK_DIR", QFile::encodeName(locks.path()));
    }
    void init() { ClearSettings(); }

    // A resource that a command opened goes to the top of the list, at most
    // twenty are kept, and the box's text and list are there at the next
    // start.
    void resourceHistory()
    {
        QStringList earlier;
        for (int i = 1; i <= RESOURCE_HISTORY_SIZE; ++i)
            earlier << QStringLiteral("GPIB0::%1::INSTR").arg(i);
        Store(QStringLiteral("VISA/Resources"), earlier);
        Store(QStringLiteral("VISA/Resource"), QStringLiteral("GPIB0::3::INSTR"));
        {
            Window w;
            auto *box = w.control<QComboBox>(IDC_RESOURCE);
            QCOMPARE(box->count(), RESOURCE_HISTORY_SIZE);
            QCOMPARE(box->currentText(), QStringLiteral("GPIB0::3::INSTR"));
            w.control<QRadioButton>(IDC_LINK_VISA)->click();
            w.control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
            box->setEditText(QStringLiteral("GPIB::14::INSTR"));
            Send(w, QStringLiteral("*IDN?"));
            QCOMPARE(w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText(),
                     QStringLiteral("KORVANE,TALLIX-SIM,SN0001,1.0\n"));
            QCOMPARE(w.messages, QStringList());
            QCOMPARE(box->itemText(0), QStringLiteral("GPIB::14::INSTR"));
            QCOMPARE(box->count(), RESOURCE_HISTORY_SIZE);
            QCOMPARE(box->itemText(RESOURCE_HISTORY_SIZE - 1), QStringLiteral("GPIB0::19::INSTR"));
            // Used again: it moves to the top, not in twice.
            box->setEditText(QStringLiteral("GPIB0::5::INSTR"));
            Send(w, QStringLiteral("*IDN?"));
            QCOMPARE(w.messages.size(), 1); // nothing listens there
            box->setEditText(QStringLiteral("GPIB::14::INSTR"));
            Send(w, QStringLiteral("*IDN?"));
            QCOMPARE(box->itemText(0), QStringLiteral("GPIB::14::INSTR"));
            QCOMPARE(box->findText(QStringLiteral("GPIB::14::INSTR"), Qt::MatchExactly), 0);
            w->OnCancel();
        }
        QCOMPARE(Stored(QStringLiteral("GPIB/Connect")).toInt(), 5);
        QCOMPARE(Stored(QStringLiteral("VISA/Resource")).toString(), QStringLiteral("GPIB::14::INSTR"));
        QCOMPARE(Stored(QStringLiteral("VISA/Resources")).toStringList().value(0),
                 QStringLiteral("GPIB::14::INSTR"));
        Window again;
        QCOMPARE(again.control<QComboBox>(IDC_RESOURCE)->currentText(), QStringLiteral("GPIB::14::INSTR"));
        QVERIFY(again.control<QRadioButton>(IDC_LINK_VISA)->isChecked());
    }

    // A first run that never touched the row leaves the store without it.
    void untouchedRowStoresNothing()
    {
        Window w;
        w->OnCancel();
        QVERIFY(!Stored(QStringLiteral("VISA/Resource")).isValid());
        QVERIFY(!Stored(QStringLiteral("VISA/Resources")).isValid());
    }

    // Find fills in as it finds, asks each instrument its identity, and hands
    // the chosen resource to the box.
    void findFillsInAndHandsOver()
    {
        Window w;
        QString chosen;
        {
            CFindDlg dialog(CConsoleSettings::Load().links, w.dlg.get());
            auto *list = dialog.findChild<QTreeWidget *>(QStringLiteral("instruments"));
            const QString gpib = QStringLiteral("GPIB0::14::INSTR");
            QTRY_VERIFY_WITH_TIMEOUT(!list->findItems(gpib, Qt::MatchExactly).isEmpty(), 10000);
            QTreeWidgetItem *row = list->findItems(gpib, Qt::MatchExactly).first();
            QTRY_COMPARE_WITH_TIMEOUT(row->text(CFindDlg::IDENTITY),
                                      QStringLiteral("KORVANE,TALLIX-SIM,SN0001,1.0"), 10000);
            QCOMPARE(row->text(CFindDlg::DESCRIPTION), QStringLiteral("listener on GPIB board 0"));
            list->setCurrentItem(row);
            dialog.accept();
            chosen = dialog.ChosenResource();
        }
        QCOMPARE(chosen, QStringLiteral("GPIB0::14::INSTR"));
        w->SetPrompts({.runFind = [&chosen]() { return chosen; }});
        w->OnFind();
        QCOMPARE(w.control<QComboBox>(IDC_RESOURCE)->currentText(), chosen);
    }

    // A search started again (Ask serial ports) is not taken for done when
    // the one it replaced tells that it has finished: the progress stays
    // while the new one asks its instruments.
    void searchStartedAgainRunsOn()
    {
        Window w;
        CLinkOptions options = CConsoleSettings::Load().links;
        options.visaLibrary = QStringLiteral(TALLIX_SIM_LIBDIR "/libtallix-visa-sim.so");
        // Every instrument takes its time to answer.
        qputenv("TALLIX_SIM_VISA_READ_TIMEOUT", "1");
        qputenv("TALLIX_SIM_VISA_WAIT_MS", "100000");
        CFindDlg dialog(options, w.dlg.get());
        auto *state = dialog.findChild<QLabel *>(QStringLiteral("state"));
        dialog.findChild<QCheckBox *>(QStringLiteral("askSerialPorts"))->setChecked(true);
        QCoreApplication::processEvents();
        QCOMPARE(state->text(), QStringLiteral("Searching..."));
        QTRY_VERIFY_WITH_TIMEOUT(state->text().endsWith(QLatin1String("found.")), 10000);
        qunsetenv("TALLIX_SIM_VISA_READ_TIMEOUT");
        qunsetenv("TALLIX_SIM_VISA_WAIT_MS");
    }

    // --resource: the link chosen, the resource in its box, and the first
    // command goes there.
    void startWithResource()
    {
        Window w;
        w->StartWithResource(QStringLiteral("GPIB0::14::INSTR"));
        QVERIFY(w.control<QRadioButton>(IDC_LINK_VISA)->isChecked());
        QCOMPARE(w.control<QComboBox>(IDC_RESOURCE)->currentText(), QStringLiteral("GPIB0::14::INSTR"));
        w.control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        Send(w, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText(), QStringLiteral("1.250\n"));
        QCOMPARE(w.messages, QStringList());
    }

    // A long command, pasted: the VISA Resource link sends it whole, and its
    // entry in the list shows its start; the five original links send 1,023
    // characters at most, and refuse a longer command rather than cut it.
    void longCommands_data()
    {
        QTest::addColumn<bool>("visa");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("message");
        QTest::newRow("VISA Resource, 3000") << true << 3000 << QString();
        QTest::newRow("GPIB, 1023") << false << 1023 << QString();
        QTest::newRow("GPIB, 1500") << false << 1500
                                    << "The command is 1,500 characters long; this link sends at most 1,023.";
    }

    void longCommands()
    {
        QFETCH(bool, visa);
        QFETCH(int, length);
        QFETCH(QString, message);
        Window w;
        if (visa)
            w->StartWithResource(QStringLiteral("GPIB0::14::INSTR"));
        else
            w.control<QRadioButton>(IDC_LINK_GPIB)->click();
        auto *box = w.control<QComboBox>(IDC_COMMAND);
        QString command = QStringLiteral("ECHO ");
        for (int i = 0; command.size() < length; ++i)
            command += QChar(u'A' + i % 26);
        box->lineEdit()->clear();
        box->lineEdit()->insert(command); // as a paste
        w->OnSend();
        QCOMPARE(w.messages, message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty()) {
            QCOMPARE(box->count(), 0);
            QVERIFY(w->LastReply().IsEmpty());
            return;
        }
        const QByteArray echoed = command.mid(5).toLatin1() + "\r\n";
        w->ShowResponse(); // ECHO asks nothing: the instrument is read when the user says so
        QCOMPARE(w->LastReply().bytes, echoed);
        QCOMPARE(box->count(), 1);
        QCOMPARE(box->itemText(0), length > 1023 ? command.left(1023) + QChar(0x2026) : command);
        QCOMPARE(box->currentText(), command);
        // Taken from the list again, it goes whole.
        box->setEditText(QString());
        box->setCurrentIndex(-1);
        box->setCurrentIndex(0);
        QCOMPARE(box->currentText(), command);
        w->OnSend();
        w->ShowResponse();
        QCOMPARE(w->LastReply().bytes, echoed);
        // And so when the box shows the entry's own text (the list picked
        // again at the same place).
        box->setEditText(box->itemText(0));
        w->OnSend();
        w->ShowResponse();
        QCOMPARE(w->LastReply().bytes, echoed);
        QCOMPARE(box->count(), 1);
        QCOMPARE(w.messages, QStringList());
    }

    // Serial Poll asks the resource's device while this link is chosen.
    void serialPollOfTheResource()
    {
        Window w;
        w->StartWithResource(QStringLiteral("GPIB0::14::INSTR"));
        Send(w, QStringLiteral("*IDN?")); // a reply waits: MAV
        w->OnSerialPoll();
        QCOMPARE(w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText(),
                 QStringLiteral("Serial poll status byte: 0x10"));
        QCOMPARE(w.messages, QStringList());
    }

    // What a session notes once (a pseudo-terminal has no modem lines) is a
    // line above that command's response, or at once when none follows, and
    // never a message box: the command goes on.
    void notesAboveTheResponse_data()
    {
        QTest::addColumn<bool>("read");
        // And after the next command, whose response comes without it.
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("nextShows");
        const QString note =
            QStringLiteral("The serial port %1 has no modem lines: DTR and RTS are left as they are.\n");
        QTest::newRow("above the reply") << true << "MEAS:VOLT?"
                                         << "1.250\n";
        QTest::newRow("no reply follows: at once") << false << "SOUR:VOLT 2" << note;
    }
    void notesAboveTheResponse()
    {
        QFETCH(bool, read);
        QFETCH(QString, next);
        QFETCH(QString, nextShows);
        QProcess sim;
        sim.start(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-serial-instrument"), QStringList());
        QVERIFY(sim.waitForStarted(5000));
        QByteArray out;
        while (!out.contains('\n') && sim.waitForReadyRead(5000))
            out += sim.readAllStandardOutput();
        QVERIFY(out.startsWith("pty "));
        const QString port = QString::fromLocal8Bit(out.mid(4).trimmed());
        Window w;
        w->StartWithResource(QStringLiteral("ASRL%1::INSTR").arg(port));
        const auto click = [&w](const QString &command) {
            w.control<QComboBox>(IDC_COMMAND)->setEditText(command);
            w.control<QPushButton>(IDC_SEND)->click();
            return w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText();
        };
        w.control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(read);
        QCOMPARE(
            click(QStringLiteral("*IDN?")),
            QStringLiteral("The serial port %1 has no modem lines: DTR and RTS are left as they are.\n%2")
                .arg(port, read ? QStringLiteral("KORVANE,TALLIX-SIM,SN0001,1.0\n") : QString()));
        QCOMPARE(click(next), nextShows.arg(port));
        QCOMPARE(w.messages, QStringList());
        w->OnCancel();
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

QTEST_MAIN(TestConsoleDlgVisa)
#include "tst_consoledlg_visa.moc"
