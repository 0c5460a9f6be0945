#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "saved_score_rows.h"

// The save rows every system has are in tst_atomic_save.cpp; those of one system, with the
// test's main, in tst_atomic_save_<system>.cpp; the rewrite in place in tst_in_place_rewrite.cpp.
class AtomicSaveRows : public SavedScoreRows {
    Q_OBJECT

private slots:
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
