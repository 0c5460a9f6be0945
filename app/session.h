// The run of the program: made beside the toolkit's application, before the window, and ended
// after it. It holds what must still be saved however the program ends (the scores not yet in
// Scores.txt, the plays not yet in Plays.csv, the file's state as last read), saves it quietly on
// the way out, and keeps the answers tests give in place of the boxes, which end with it. The
// save on the way out reaches nothing but this object and the chart table, so the window may be
// gone, or half destroyed, when exit() runs it.
#pragma once

#include <vector>

#include <QObject>

#include "Bk_control_main.h"
#include "play_journal.h"
#include "score_file.h"
#include "score_file_lock.h"

struct RecoveredScores;

class TSession : public QObject {
public:
    TSession();
    ~TSession() override;
    TSession(const TSession &) = delete;
    TSession &operator=(const TSession &) = delete;

    // The one session of the process; a window is made only while it lives.
    static TSession &Current();

    // What answers in place of the toolkit's boxes and dialogs, where a test put its answer.
    struct StandIns {
        TBK_ControlMain::ErrorPresenter error;
        TBK_ControlMain::FileChooser comparisonFile;
        TBK_ControlMain::FileChooser exportFile;
        TBK_ControlMain::UnsavedScoresQuestion unsavedScores;
    };
    StandIns standIns;
    int endingLockWaitMs = EndingLockWaitMs;

    // Scores.txt and Plays.csv as this run knows them.
    bool unsavedScore[ChartCount] = {};  // inserted here, not yet in Scores.txt
    std::vector<PlayLine> unsavedPlays;  // not yet in Plays.csv, in the order played
    ScoreFileStatus ownFileStatus;       // a refusal here: Scores.txt is not to be written over
    bool scoresMergedOnSave = false;     // the last save met another program's change and merged it
    bool journalRefusalSaid = false;     // why Plays.csv is refused is said once a session

    int UnsavedScoreCount() const;
    int UnsavedPlayCount() const;
    void Discard();
    // The message for a Scores.txt that exists but was not read, or nothing.
    QString LoadOwnScoreFile();
    bool MergeOwnFile();
    QString SaveOwnScoreFile(const ScoreFileLock &lock);
    bool AppendPlays(const ScoreFileLock &lock, const PlayLine *line, QString *message);
    QString PlayFailureMessage(const QString &reason, bool lasting);
    // Scores and plays a window that could not save left in recovery files; the message for
    // what could not be taken in, or nothing.
    QString TakeInRecoveryFiles();

    // The save of a session that ends without asking: under the lock, waited for as long as
    // the end of a session allows; what still cannot be saved goes into a recovery file.
    bool SaveQuietly();
    // From now on a signal that asks the program to end (SIGTERM, SIGHUP, SIGINT) ends it as a
    // session's end without questions does. SIGPIPE and SIGXFSZ are ignored: the write fails
    // and the window says why.
    void EndOnSignals();
    void EndWithoutQuestions();
    // EXIT_FAILURE once scores or plays could not be saved on the way out, else 0.
    int EndStatus() const { return endStatus_; }

private:
    static void SaveBeforeExit();
    void StopEndingOnSignals();
    void KeepInRecoveryFile(const QString &why);
    QString SaveRecoveredScores(const RecoveredScores &recovered, const ScoreFileLock &lock);

    int endStatus_ = 0;
    int signalPipe_[2] = {-1, -1};
};
