#pragma once

#include <memory>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "chart_fixture.h"

// What every system's save rows share: a folder of the test's own holding a saved score file
// (oldFile_) and a better score not saved yet. The rows every system has are in
// tst_atomic_save.cpp; those of one system, with the test's main, in tst_atomic_save_<system>.cpp.
class AtomicSaveRows : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }
    QByteArray oldFile_;

    // Both the save and the print refused for want of the right to write: 1, else 0.
    int SaveAndPrintRefused();

private slots:
    void init();
    void cleanup();
    void successLeavesOnlyTheNewFile();
    void temporaryIsOurOwn();
    void targetThatCannotBeReplacedIsReported();
    void readOnlyFilesAreLeftAsTheyWere();
    void lockKeepsOthersWaitingAndDiesWithItsProcess();
};

// How the message names a folder where no temporary could be made.
QByteArray NoTemporaryIn(const QString &folder);

// What each system's file gives the shared rows.
bool MakeReadOnly(const char *name, bool readOnly);
// The score file's own folder reached from where the test runs: through a link, or by entering it
// where links are not followed.
bool ReachScoreFileIn(const char *folder);
