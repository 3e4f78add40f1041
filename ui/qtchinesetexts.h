// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTranslator>

// Chinese for the texts of Qt's own dialogs that Debian's catalog (qtbase_zh_CN.qm, of
// qt6-translations-l10n) lacks: the file types the file dialogs list, whose context Qt 6
// renamed after the catalog was translated, so a folder showed as "Folder". Installed
// after that catalog, it is asked first and answers these texts only; every other text
// falls through to the catalog.
class QtChineseTexts : public QTranslator
{
    Q_OBJECT

public:
    using QTranslator::QTranslator;

    QString translate(const char *context, const char *sourceText,
                      const char *disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return false; }
};
