#pragma once

#include <cerrno>
#include <memory>

#include <QByteArray>
#include <QObject>
#include <QtTest>

#include "chart_fixture.h"
#include "print_file.h"
#include "score_file.h"

// What every save test stands on: a folder of the test's own holding a saved score file
// (oldFile_) and a better score not saved yet, so that a save that goes wrong shows in the file.
class SavedScoreRows : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }
    QByteArray oldFile_;

    // Both the save and the print refused for want of the right to write: 1, else 0.
    int SaveAndPrintRefused()
    {
        SaveFailure saveFailure, printFailure;
        const bool saved = SaveScoreFile(&saveFailure);
        const bool printed = WritePrintFile(&f().order, &printFailure);
        return !saved && !printed && saveFailure.error == EACCES && printFailure.error == EACCES ? 1 : 0;
    }

private slots:
    void init()
    {
        fixture_ = std::make_unique<TableFixture>();
        Score(Chart("ABSOLUTE"), 10, 6, 9, 2005);
        QVERIFY(SaveScoreFile());
        oldFile_ = ReadBytes(ScoreFileName);
        Score(Chart("ABSOLUTE"), 3, 7, 9, 2005);
    }

    void cleanup() { fixture_.reset(); }
};
