#include "chosen_files.h"

#include <QFile>

#include "list_export.h"
#include "score_file.h"

bool ReadComparisonFile(const QString &fileName, ScoreFileStatus *status)
{
    return LoadScoreFile(QFile::encodeName(fileName).constData(), status);
}

bool WriteExport(const QString &fileName, const ChartOrder &order, const uint32_t (&plays)[ChartCount], bool comparing,
                 SaveFailure *failure)
{
    return WriteListExport(QFile::encodeName(fileName).constData(), order, plays, comparing, failure);
}
