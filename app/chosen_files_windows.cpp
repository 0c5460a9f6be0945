#include "chosen_files.h"

#include <QDir>

#include "list_export.h"
#include "score_file.h"

bool ReadComparisonFile(const QString &fileName, ScoreFileStatus *status)
{
    return LoadComparisonFile(QDir::toNativeSeparators(fileName).toStdWString().c_str(), status);
}

bool WriteExport(const QString &fileName, const ChartOrder &order, const uint32_t (&plays)[ChartCount], bool comparing,
                 SaveFailure *failure)
{
    return WriteListExport(QDir::toNativeSeparators(fileName).toStdWString().c_str(), order, plays, comparing, failure);
}
