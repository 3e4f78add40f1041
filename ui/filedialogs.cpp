// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedialogs.h"

#include "bookfile.h"
#include "preferences.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {
std::optional<QString> &testAnswer()
{
    static std::optional<QString> answer;
    return answer;
}
QString &lastSuggested()
{
    static QString suggestion;
    return suggestion;
}
} // namespace

QString FileDialogs::saveFileName(QWidget *parent, const QString &title, const QString &suggested,
                                  const QString &filter)
{
    lastSuggested() = suggested;
    if (testAnswer())
        return *testAnswer();
    return QFileDialog::getSaveFileName(parent, title, suggested, filter);
}

QString FileDialogs::openFileName(QWidget *parent, const QString &title, const QString &folder,
                                  const QString &filter)
{
    lastSuggested() = folder;
    if (testAnswer())
        return *testAnswer();
    return QFileDialog::getOpenFileName(parent, title, folder, filter);
}

QString FileDialogs::exportFileName(QWidget *parent, const QString &title, const QString &fileName)
{
    const QString key = u"lastExportFolder"_s;
    const QString lastFolder = Preferences::value(key);
    const QString folder = !lastFolder.isEmpty() && QFileInfo(lastFolder).isDir()
        ? lastFolder
        : BookFile::documentsDirectory();
    QString target = saveFileName(parent, title, QDir(folder).filePath(fileName),
                                  u"Excel 工作簿 (*.xlsx);;CSV 文件 (*.csv)"_s);
    if (target.isEmpty())
        return {};
    // The picker's first filter is the workbook's.
    if (QFileInfo(target).suffix().isEmpty())
        target += u".xlsx"_s;
    Preferences::setValue(key, QFileInfo(target).absolutePath());
    return target;
}

void FileDialogs::setTestAnswer(std::optional<QString> path)
{
    testAnswer() = std::move(path);
}

QString FileDialogs::lastSuggestion()
{
    return lastSuggested();
}
