// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFiles.h"
#include "console/FileDialogEx.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

// The dialogs as a user meets them: Qt's own file dialog, answered by typing
// into its file name box.
class TestFileDialogEx : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString Touch(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static QLineEdit *FileNameEdit(QFileDialog *dialog)
    {
        return dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    }

    // Runs `act` on the modal file dialog once it is up. A question the dialog
    // asks on its own (a message box) is closed and marks the test stuck, and
    // so does a dialog that stays after `act`: the test fails, it never hangs.
    void WhenModal(const std::function<void(QFileDialog *)> &act, int triesLeft = 500)
    {
        QTimer::singleShot(10, this, [this, act, triesLeft]() {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog) {
                if (triesLeft > 0)
                    WhenModal(act, triesLeft - 1);
                return;
            }
            dialog->setDirectory(m_dir.path());
            QTimer guard;
            connect(&guard, &QTimer::timeout, this, [this]() {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                    m_stuck = true;
                    box->reject();
                }
            });
            guard.start(20);
            act(dialog);
            guard.stop();
            if (dialog->isVisible()) {
                m_stuck = true;
                dialog->reject();
            }
        });
    }
    bool m_stuck = false;

private slots:
    void init() { m_stuck = false; }

    void carriesTheLogResponsesBox()
    {
        CFileDialogEx dialog(true, QStringLiteral("*.txt"));
        QCheckBox *check = dialog.findChild<QCheckBox *>(QStringLiteral("IDC_LOG_RESPONSES"));
        QVERIFY(check);
        QCOMPARE(check, dialog.LogResponsesCheck());
        QCOMPARE(check->text(), QStringLiteral("Log responses"));
        QCOMPARE(check->property("controlId").toInt(), 1026);
        QVERIFY(dialog.testOption(QFileDialog::DontUseNativeDialog));
        auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
        QVERIFY(grid);
        QVERIFY(grid->indexOf(check) >= 0);
        QCOMPARE(dialog.fileMode(), QFileDialog::AnyFile);
        QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptOpen);
        QVERIFY(!dialog.m_logResponses);
        QVERIFY(dialog.width() >= 760); // its columns shown whole
    }

    void suffixOfThePattern_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("pattern") << QStringLiteral("*.txt") << QStringLiteral("txt");
        QTest::newRow("dot") << QStringLiteral(".txt") << QStringLiteral("txt");
        QTest::newRow("plain") << QStringLiteral("txt") << QStringLiteral("txt");
        QTest::newRow("none") << QString() << QString();
    }

    void suffixOfThePattern()
    {
        QFETCH(QString, given);
        QFETCH(QString, suffix);
        QCOMPARE(CFileDialogEx::SuffixOf(given), suffix);
        CFileDialogEx dialog(true, given);
        QCOMPARE(dialog.defaultSuffix(), suffix);
    }

    // Ticked in one showing, unticked at the next; the state outlives the
    // dialog's end, cancelled or not.
    void boxStartsUntickedEveryTime()
    {
        CFileDialogEx dialog(true, QStringLiteral("*.txt"));
        dialog.show();
        QVERIFY(!dialog.LogResponsesCheck()->isChecked());
        dialog.LogResponsesCheck()->click();
        dialog.reject();
        QVERIFY(dialog.m_logResponses);
        dialog.show();
        QVERIFY(!dialog.LogResponsesCheck()->isChecked());
        dialog.reject();
        QVERIFY(!dialog.m_logResponses);
    }

    void typedNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("no suffix gets .txt") << QStringLiteral("cmds") << QStringLiteral("cmds.txt");
        QTest::newRow("own suffix kept") << QStringLiteral("init.cmd") << QStringLiteral("init.cmd");
        // Taken as typed: the window then says "Could not open file".
        QTest::newRow("a file that is not there") << QStringLiteral("absent") << QStringLiteral("absent.txt");
        // "notes" and "notes.txt" are both there: the name as typed wins.
        QTest::newRow("a file that is there as typed") << QStringLiteral("notes") << QStringLiteral("notes");
    }

    void typedNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        Touch(QStringLiteral("cmds.txt"));
        Touch(QStringLiteral("init.cmd"));
        Touch(QStringLiteral("notes"));
        Touch(QStringLiteral("notes.txt"));
        COpenFileChoice choice;
        WhenModal([&](QFileDialog *dialog) {
            // Typed as a user types: into the box that has the focus, which
            // the dialog then leaves as it is.
            dialog->activateWindow();
            if (!QTest::qWaitForWindowActive(dialog))
                m_stuck = true;
            FileNameEdit(dialog)->setFocus(Qt::OtherFocusReason);
            FileNameEdit(dialog)->setText(typed);
            QTest::qWait(50); // the folder's listing comes in meanwhile
            static_cast<QDialog *>(dialog)->accept();
        });
        choice = RunOpenFileDialog(nullptr);
        QVERIFY(!m_stuck);
        QVERIFY(choice.accepted);
        QCOMPARE(choice.path, QDir(m_dir.path()).absoluteFilePath(chosen));
        QCOMPARE(choice.name, chosen);
        QVERIFY(!choice.logResponses);
    }

    void openDialogReportsTheBox()
    {
        const QString path = Touch(QStringLiteral("init.txt"));
        WhenModal([&](QFileDialog *dialog) {
            dialog->findChild<QCheckBox *>(QStringLiteral("IDC_LOG_RESPONSES"))->click();
            FileNameEdit(dialog)->setText(QStringLiteral("init.txt"));
            static_cast<QDialog *>(dialog)->accept();
        });
        const COpenFileChoice choice = RunOpenFileDialog(nullptr);
        QVERIFY(!m_stuck);
        QVERIFY(choice.accepted);
        QCOMPARE(choice.path, path);
        QCOMPARE(choice.name, QStringLiteral("init.txt"));
        QVERIFY(choice.logResponses);
    }

    void openDialogCancelled()
    {
        WhenModal([](QFileDialog *dialog) { dialog->reject(); });
        const COpenFileChoice choice = RunOpenFileDialog(nullptr);
        QVERIFY(!choice.accepted);
        QVERIFY(choice.path.isEmpty());
    }

    // An existing log is chosen without a question: it is appended to.
    void saveDialogTakesAnExistingFile()
    {
        const QString existing = Touch(QStringLiteral("responses.txt"));
        QString title;
        WhenModal([&](QFileDialog *dialog) {
            title = dialog->windowTitle();
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
            QVERIFY(dialog->width() >= 760);
            FileNameEdit(dialog)->setText(QStringLiteral("responses.txt"));
            static_cast<QDialog *>(dialog)->accept();
        });
        const QString chosen =
            RunSaveFileDialog(nullptr, QStringLiteral("Save/Append responses to \"init.txt\""));
        QVERIFY2(!m_stuck, "the save dialog asked before taking an existing file");
        QCOMPARE(title, QStringLiteral("Save/Append responses to \"init.txt\""));
        QCOMPARE(chosen, existing);
    }

    void saveDialogTypedNameGetsTxt()
    {
        WhenModal([&](QFileDialog *dialog) {
            FileNameEdit(dialog)->setText(QStringLiteral("session"));
            static_cast<QDialog *>(dialog)->accept();
        });
        QCOMPARE(RunSaveFileDialog(nullptr, QStringLiteral("t")),
                 m_dir.filePath(QStringLiteral("session.txt")));
        QVERIFY(!m_stuck);
    }

    void saveDialogCancelled()
    {
        WhenModal([](QFileDialog *dialog) { dialog->reject(); });
        QCOMPARE(RunSaveFileDialog(nullptr, QStringLiteral("t")), QString());
    }
};

QTEST_MAIN(TestFileDialogEx)
#include "tst_filedialogex.moc"
