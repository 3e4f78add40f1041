#include "startup.h"

#include "icons.h"
#include "messagebox.h"
#include "sqlitehelper.h"

#include <QApplication>
#include <QFontDatabase>

using namespace Qt::StringLiterals;

void Startup::setUpApplication(QApplication &app)
{
    QApplication::setApplicationName(u"Quenta"_s);
    QApplication::setOrganizationName(u"Quenta"_s);
    QApplication::setWindowIcon(Icons::bundled(u"quenta"_s));
    // Matches the installed launcher, so desktops show its name and icon for the window.
    QGuiApplication::setDesktopFileName(u"quenta"_s);
    const QString family = u"Noto Sans CJK SC"_s;
    if (QFontDatabase::families().contains(family)) {
        QFont font = app.font();
        font.setFamily(family);
        app.setFont(font);
    }
}

bool Startup::checkDatabase(QWidget *parent)
{
    QString error;
    if (SQLiteHelper::shared().checkUsable(&error))
        return true;
    const QString text = u"无法使用数据库，Quenta 无法启动。\n\n%1\n\n数据库位置：%2"_s.arg(
        error, SQLiteHelper::shared().dbURL());
    MessageBox::critical(parent, u"数据库错误"_s, text);
    return false;
}
