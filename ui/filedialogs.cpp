// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedialogs.h"

#include "bookfile.h"
#include "preferences.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The file types as the pickers list them, short enough to read in the type column: the
// system's descriptions ("Excel 2007 电子表格") were cut off there, and a folder was a
// "Folder" wherever Qt's catalog lacked the word.
class FileTypes : public QFileIconProvider
{
public:
    QString type(const QFileInfo &info) const override
    {
        if (info.isDir())
            return u"文件夹"_s;
        const QString suffix = info.suffix().toLower();
        if (suffix == u"xlsx"_s)
            return u"Excel 工作簿"_s;
        if (suffix == u"csv"_s)
            return u"CSV 文件"_s;
        if (suffix == u"pdf"_s)
            return u"PDF 文件"_s;
        if (suffix == u"db"_s)
            return u"数据库"_s;
        return suffix.isEmpty() ? u"文件"_s : u"%1 文件"_s.arg(suffix.toUpper());
    }
};

FileTypes &fileTypes()
{
    static FileTypes types;
    return types;
}

// Qt's own picker (where the desktop offers none of its own) sizes its columns for
// English ("mp3Folder", "10/29/81 02:02PM") and itself for a few of them: the Chinese
// types and dates were cut off. Its columns are widened to what they show here, never
// narrowed (the user's own widths, which Qt keeps, stay), and the picker is made wide
// enough for them.
void fitDetails(QFileDialog &dialog)
{
    const QFontMetrics metrics(dialog.font());
    const QLocale shown = QLocale::system();
    constexpr int padding = 16;
    const int needed[] = {
        0, // the name keeps Qt's width
        metrics.horizontalAdvance(shown.formattedDataSize(999'900'000)) + padding,
        metrics.horizontalAdvance(u"Excel 工作簿"_s) + padding,
        metrics.horizontalAdvance(
            shown.toString(QDateTime(QDate(2028, 12, 28), QTime(23, 59)), QLocale::ShortFormat))
            + padding,
    };
    // The one header of the picker is its detail view's; a picker without one (another
    // Qt, the desktop's own) is left as it is.
    int width = 0;
    if (auto *header = dialog.findChild<QHeaderView *>()) {
        for (int section = 0; section < header->count(); ++section) {
            if (section < int(std::size(needed)) && header->sectionSize(section) < needed[section])
                header->resizeSection(section, needed[section]);
            width += header->sectionSize(section);
        }
    }
    // Beside the places list and inside the frame.
    dialog.resize(std::max(dialog.width(), width + 260), std::max(dialog.height(), 460));
}

// A picker as Qt's static functions make one, with the file types above.
QString pick(QFileDialog &dialog)
{
    dialog.setIconProvider(&fileTypes());
    fitDetails(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

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
    const QFileInfo start(suggested);
    QFileDialog dialog(parent, title, start.absolutePath(), filter);
    dialog.setObjectName(u"saveFileDialog"_s);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(start.fileName());
    return pick(dialog);
}

QString FileDialogs::openFileName(QWidget *parent, const QString &title, const QString &folder,
                                  const QString &filter)
{
    lastSuggested() = folder;
    if (testAnswer())
        return *testAnswer();
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setObjectName(u"openFileDialog"_s);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return pick(dialog);
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
