#include "Bk_control_main.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSessionManager>
#include <QTreeView>

#include "chart_ordering.h"
#include "dp_scoring.h"
#include "score_text.h"
#include "session.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

// The warning's texts never change: each of its labels is sized to its text once, as it is built.
QLabel *MakeWarningLabel(QWidget *parent, const char *name, QPoint position, const QString &text, const QFont &font)
{
    auto *label = MakeControl<QLabel>(parent, name, QRect(position, QSize()));
    label->setFont(font);
    label->setText(text);
    label->adjustSize();
    return label;
}

// "2 scores are not saved in Scores.txt, and 1 play is not written to Plays.csv."
QString UnsavedText(int unsavedCount, int unsavedPlays)
{
    const QString scores = unsavedCount == 1 ? QStringLiteral("1 score is not saved in %1").arg(QString::fromLatin1(ScoreFileName))
                                             : QStringLiteral("%1 scores are not saved in %2")
                                                   .arg(QString::number(unsavedCount), QString::fromLatin1(ScoreFileName));
    const QString plays = unsavedPlays == 1 ? QStringLiteral("1 play is not written to %1").arg(QString::fromLatin1(PlayJournalName))
                                            : QStringLiteral("%1 plays are not written to %2")
                                                  .arg(QString::number(unsavedPlays), QString::fromLatin1(PlayJournalName));
    if (unsavedPlays == 0)
        return scores + u'.';
    return unsavedCount == 0 ? plays + u'.' : scores + QStringLiteral(", and ") + plays + u'.';
}

TBK_ControlMain::UnsavedScoresAnswer AskAboutUnsavedScores(int unsavedCount, int unsavedPlays)
{
    const QString text = UnsavedText(unsavedCount, unsavedPlays);
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(TBK_ControlMain::ApplicationTitle()),
                    text, QMessageBox::NoButton, BoxParent());
    box.setInformativeText(QStringLiteral("Save again before closing, discard, or keep the window open?"));
    QPushButton *save = box.addButton(QStringLiteral("&Save again"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(QStringLiteral("&Discard"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(save);
    box.exec();
    if (box.clickedButton() == save)
        return TBK_ControlMain::UnsavedScoresAnswer::SaveAgain;
    if (box.clickedButton() == discard)
        return TBK_ControlMain::UnsavedScoresAnswer::Discard;
    return TBK_ControlMain::UnsavedScoresAnswer::Cancel;
}

}  // namespace

void TBK_ControlMain::SetUnsavedScoresQuestion(UnsavedScoresQuestion question)
{
    TSession::Current().standIns.unsavedScores = std::move(question);
}

TBK_ControlMain::EntryFieldList TBK_ControlMain::EntryFields() const
{
    return {MemoGreat, MemoGood, MemoBoo, MemoMiss, MemoOK};
}

void TBK_ControlMain::ClearEntryFields()
{
    for (QLineEdit *field : EntryFields())
        field->setText(QString());
    for (QLabel *label : {LabelDPFreeze, LabelDPMissResult, LabelRankResult, LabelPercResult})
        SetLabelText(label, QString());
}

bool TBK_ControlMain::RecalculateEntry()
{
    if (currentChart == nullptr)
        return false;
    const ChartRecord &chart = *currentChart;
    pendingDpLost = chart.maxDp;
    SetLabelText(LabelDPFreeze, QStringLiteral("%1 / %2").arg(chart.maxDp).arg(chart.freezes));

    int32_t great = ConvertEntryText(MemoGreat->text());
    int32_t good = ConvertEntryText(MemoGood->text());
    int32_t boo = ConvertEntryText(MemoBoo->text());
    int32_t miss = ConvertEntryText(MemoMiss->text());
    int32_t ok = chart.freezes != 0 ? ConvertEntryText(MemoOK->text()) : 0;  // never read without freezes

    uint16_t dpLost = ComputeDpLost(chart.maxDp, chart.freezes, great, good, boo, miss, ok);
    uint16_t percent = PercentHundredths(chart.maxDp, dpLost);
    SetLabelText(LabelDPMissResult, Decimal(dpLost));
    SetLabelText(LabelRankResult, QString::fromLatin1(RankName(percent)));
    SetLabelText(LabelPercResult, QString::fromLatin1(PercentLabelText(percent).text));
    pendingDpLost = dpLost;
    return true;
}

void TBK_ControlMain::MemoGreatChange() { RecalculateEntry(); AnnounceResultAfterPause(); }
void TBK_ControlMain::MemoGoodChange() { RecalculateEntry(); AnnounceResultAfterPause(); }
void TBK_ControlMain::MemoBooChange() { RecalculateEntry(); AnnounceResultAfterPause(); }
void TBK_ControlMain::MemoMissChange() { RecalculateEntry(); AnnounceResultAfterPause(); }
void TBK_ControlMain::MemoOKChange() { RecalculateEntry(); AnnounceResultAfterPause(); }

bool TBK_ControlMain::CommitEntry(bool warnIfWorse)
{
    if (currentChart == nullptr)
        return false;
    if (warnIfWorse && currentChart->dpLost < pendingDpLost) {
        warnedChart = currentChart->index;
        warnedScore = ScoreOf(*currentChart);
        ShowWarningPanel();
        return false;
    }
    const QDate today = QDate::currentDate();
    currentChart->day = static_cast<uint8_t>(today.day());
    currentChart->month = static_cast<uint8_t>(today.month());
    currentChart->year = static_cast<uint16_t>(today.year());
    currentChart->dpLost = pendingDpLost;
    return true;
}

// Scores.txt is read again under the lock on every Insert, whatever its size or times say:
// another window or an editor may have written it, and it reads in well under a millisecond.
// The warning then compares with the score as the file has it, and its OK stores only over
// the score it compared with: another one stored meanwhile is asked about anew.
void TBK_ControlMain::ButtonInsertClick(QObject *sender)
{
    if (currentChart == nullptr)
        return;
    const ScoreFileLock lock;
    const bool merged = session.MergeOwnFile();
    PlayLine play = StartPlayLine();  // the score it replaces, as the file has it
    const bool askAgain = sender == nullptr && !StillAsWarned();
    if (!CommitEntry(sender != nullptr || askAgain)) {
        if (askAgain)
            ShowStoredMeanwhile();
        if (merged)
            ShowMergedScores();
        return;
    }
    FinishPlayLine(play);
    uint32_t index = currentChart->index;
    session.unsavedScore[index] = true;
    SortCharts(chartOrder, sortKey, sortAscending);
    FillScoreList();
    UpdateTotals();
    const QString failure = SaveWithPlay(lock, play);
    if (session.scoresMergedOnSave)
        ShowMergedScores();
    SelectChartByIndex(index);
    ListViewScores->setFocus(Qt::OtherFocusReason);
    // The score stays in memory and in the list, the play in the window; the next insert, or
    // closing, tries again.
    if (!failure.isEmpty())
        throw std::runtime_error(failure.toStdString());
}

// Made hidden when the first warning is due. It covers the whole window, and the entry panel is
// hidden whenever it shows, so it may lie on top of it.
void TBK_ControlMain::BuildWarningPanel()
{
    if (PanelWarning != nullptr)
        return;
    PanelWarning = MakeControl<QFrame>(this, "PanelWarning", QRect(0, 0, ClientWidth, ClientHeight));
    PanelWarning->hide();
    PanelWarning->setFrameStyle(QFrame::Panel | QFrame::Raised);
    SetBackground(PanelWarning, WindowGreen);

    LabelWarningTitle = MakeWarningLabel(PanelWarning, "LabelWarningTitle", QPoint(312, 20),
                                         QStringLiteral("Warning"), WindowFont(32, true));
    SetTextColour(LabelWarningTitle, ResultRed);
    LabelWarningMessage = MakeWarningLabel(PanelWarning, "LabelWarningMessage", QPoint(171, 96),
                                           QStringLiteral("You are inserting a greater amout of DPs than before!!! "),
                                           WindowFont(LargePixels, true));
    LabelWarningContinue = MakeWarningLabel(PanelWarning, "LabelWarningContinue", QPoint(327, 148),
                                            QStringLiteral("Continue ?"), WindowFont(19, false));
    SetTextColour(LabelWarningContinue, ResultRed);

    LabelWarningStored = MakeControl<QLabel>(PanelWarning, "LabelWarningStored", QRect(16, 240, ClientWidth - 32, 40));
    LabelWarningStored->setFont(WindowFont(LargePixels, false));
    LabelWarningStored->setAlignment(Qt::AlignCenter);
    LabelWarningStored->setWordWrap(true);
    LabelWarningStored->hide();
    ButtonWarningOK = MakeButton(PanelWarning, "ButtonWarningOK", QRect(259, 195, 75, 25), QStringLiteral("O&K"));
    ButtonWarningNO = MakeButton(PanelWarning, "ButtonWarningNO", QRect(418, 195, 75, 25), QStringLiteral("&Cancel"));
    // A reader announces the panel as an alert and reads its description: the words on the panel.
    SetAccessibleRole(PanelWarning, QAccessible::AlertMessage);
    Describe(PanelWarning, LabelWarningTitle->text(),
             LabelWarningMessage->text().trimmed() + u' ' + LabelWarningContinue->text());
    PanelWarning->installEventFilter(this);
    Describe(ButtonWarningOK, QStringLiteral("OK, store the worse score"),
             QStringLiteral("Stores the new result although it loses more DP than the stored score"));
    Describe(ButtonWarningNO, QStringLiteral("Cancel, keep the stored score"),
             QStringLiteral("Goes back to the entry without storing anything"));
    connect(ButtonWarningOK, &QPushButton::clicked, this, Guarded([this] { ButtonWarningOKClick(); }));
    connect(ButtonWarningNO, &QPushButton::clicked, this, Guarded([this] { ButtonWarningNOClick(); }));
    QWidget::setTabOrder(ButtonWarningOK, ButtonWarningNO);
}

// One of the two panels shows at a time: the OK button of a hidden warning panel must not be
// reachable by Tab or by its mnemonic, where it would store without the test.
void TBK_ControlMain::ShowWarningPanel()
{
    BuildWarningPanel();
    LabelWarningStored->hide();
    PanelWarning->show();
    PanelInsert->hide();
    ButtonWarningOK->setFocus(Qt::OtherFocusReason);
    if (QAccessible::isActive()) {
        QAccessibleEvent alert(PanelWarning, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

bool TBK_ControlMain::StillAsWarned() const
{
    return currentChart->index == warnedChart && ScoreOf(*currentChart) == warnedScore;
}

// Said on the panel and to a reader: what the player is now asked to store over.
void TBK_ControlMain::ShowStoredMeanwhile()
{
    if (PanelWarning == nullptr || !PanelWarning->isVisible())
        return;
    const QString text = QStringLiteral("Meanwhile another window or an editor stored DP lost %1 of %2 for %3 in %4. "
                                        "This play loses %5.")
                             .arg(currentChart->dpLost)
                             .arg(QString::fromLatin1(ListDateText(*currentChart).text), QString::fromUtf8(currentChart->name),
                                  QString::fromLatin1(ScoreFileName))
                             .arg(pendingDpLost);
    SetLabelText(LabelWarningStored, text);
    LabelWarningStored->show();
    Announce(text);
}

void TBK_ControlMain::ShowEntryPanel()
{
    PanelInsert->show();
    if (PanelWarning != nullptr)
        PanelWarning->hide();
}

void TBK_ControlMain::ButtonWarningOKClick()
{
    ShowEntryPanel();
    ButtonInsertClick(nullptr);
}

void TBK_ControlMain::ButtonWarningNOClick()
{
    ShowEntryPanel();
    ListViewScores->setFocus(Qt::OtherFocusReason);
}

// The file brought other scores than the window showed, and nothing was stored: the list shows
// the file's scores at once, while the entry keeps what the player typed for OK or Cancel.
void TBK_ControlMain::ShowMergedScores()
{
    const EntryFieldList fields = EntryFields();
    QString typed[std::size(fields)];
    std::transform(fields.begin(), fields.end(), typed, [](QLineEdit *field) { return field->text(); });
    SortCharts(chartOrder, sortKey, sortAscending);
    FillScoreList();
    UpdateTotals();
    for (size_t i = 0; i < std::size(fields); ++i)
        fields[i]->setText(typed[i]);
}

// The save of Insert without a new score, for closing: under the lock, waited for as on the way
// out, after reading the file again, and the plays not yet in Plays.csv. Yields the message for
// a failure of either, as SaveOwnScoreFile does; plays still kept are always said here, where
// the player asked for them to be written.
QString TBK_ControlMain::SaveScoresAgain()
{
    const ScoreFileLock lock(session.endingLockWaitMs);
    if (session.MergeOwnFile())
        ShowMergedScores();
    const bool scores = session.UnsavedScoreCount() != 0;  // also those the file lost meanwhile
    const QString failure = scores ? session.SaveOwnScoreFile(lock) : QString();
    if (session.scoresMergedOnSave)
        ShowMergedScores();
    QString playFailure;
    if (!session.AppendPlays(lock, nullptr, &playFailure) && (playFailure.isEmpty() || (scores && lock.Refusal() != nullptr)))
        playFailure = UnsavedText(0, session.UnsavedPlayCount()).chopped(1);
    return SaveMessages(failure, playFailure);
}

// Closing ends the program, so scores that are not in Scores.txt, and plays that are not in
// Plays.csv, are asked about first; with everything written nothing is asked and nothing
// written. Where nothing may be asked (a session that ends without letting programs interact),
// saving is the one safe answer, and what it cannot save goes into a recovery file. A save
// asked for that fails keeps the window open, and says why.
bool TBK_ControlMain::MayClose(bool mayAsk)
{
    if (!mayAsk)
        return session.SaveQuietly();
    session.MergeOwnFile();  // scores the file lost since the last Insert count as unsaved too
    const int unsaved = session.UnsavedScoreCount();
    const int plays = session.UnsavedPlayCount();
    if (unsaved == 0 && plays == 0)
        return true;
    const UnsavedScoresQuestion &question = session.standIns.unsavedScores;
    switch (question ? question(unsaved, plays) : AskAboutUnsavedScores(unsaved, plays)) {
    case UnsavedScoresAnswer::SaveAgain:
        if (const QString saveFailure = SaveScoresAgain(); !saveFailure.isEmpty())
            throw std::runtime_error(saveFailure.toStdString());
        return true;
    case UnsavedScoresAnswer::Discard:
        session.Discard();
        return true;
    case UnsavedScoresAnswer::Cancel:
        break;
    }
    return false;
}

void TBK_ControlMain::closeEvent(QCloseEvent *event)
{
    bool mayClose = false;  // also where the save asked for failed
    Guarded([&] { mayClose = MayClose(true); })();
    if (mayClose)
        QWidget::closeEvent(event);
    else
        event->ignore();
}

// The desktop session asks every program before it ends (a logout); Cancel keeps it going.
void TBK_ControlMain::SessionEnding(QSessionManager &manager)
{
    if (!manager.allowsInteraction()) {
        MayClose(false);
        return;
    }
    bool mayEnd = false;
    Guarded([&] { mayEnd = MayClose(true); })();
    manager.release();
    if (!mayEnd)
        manager.cancel();
}
