// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedialogs.h"

#include <QFileDialog>

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

void FileDialogs::setTestAnswer(std::optional<QString> path)
{
    testAnswer() = std::move(path);
}

QString FileDialogs::lastSuggestion()
{
    return lastSuggested();
}
