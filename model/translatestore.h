// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sharedinstance.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

struct Translate
{
    QString id;
    std::optional<QString> content;
    friend bool operator==(const Translate &, const Translate &) = default;
};

// Created with the other stores and handed to the window, but nothing fills, reads or
// saves it and it has no table: kept so the set of shared stores stays complete.
class TranslateStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<Translate> datas READ datas WRITE setDatas NOTIFY datasChanged)

public:
    static TranslateStore &shared();

    QList<Translate> datas() const { return m_datas; }
    void setDatas(const QList<Translate> &datas);

Q_SIGNALS:
    void datasChanged();

private:
    friend class SharedInstance<TranslateStore>;
    TranslateStore() = default;

    QList<Translate> m_datas;
};
