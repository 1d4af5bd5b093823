#ifndef SCANWINDOW_H
#define SCANWINDOW_H

#include "setuptool.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

// The real main window, driven the way a technician drives it: through its widgets.
class ScanWindow
{
public:
    ScanWindow()
        : list(window.findChild<QListWidget *>(QStringLiteral("listWidget")))
        , scanButton(window.findChild<QPushButton *>(QStringLiteral("scanPushButton")))
        , stateLabel(window.findChild<QLabel *>(QStringLiteral("readytostartLabel")))
        , receiveLabel(window.findChild<QLabel *>(QStringLiteral("receiveLabel")))
        , progress(window.findChild<QProgressBar *>(QStringLiteral("scanprogressBar")))
    {
        window.show();
    }

    bool complete() const { return list && scanButton && stateLabel && receiveLabel && progress; }

    QStringList rows() const
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts.append(list->item(i)->text());
        return texts;
    }

    void clickScan() { QTest::mouseClick(scanButton, Qt::LeftButton); }

    bool scanning() const { return stateLabel->text() == QLatin1String("Scanning"); }

    // A full scan lasts six ticks of one second.
    bool waitUntilIdle(int timeout = 9000)
    {
        return QTest::qWaitFor([this] { return !scanning(); }, timeout);
    }

    setuptool window;
    QListWidget *list;
    QPushButton *scanButton;
    QLabel *stateLabel;
    QLabel *receiveLabel;
    QProgressBar *progress;
};

// The list text of a device: its name padded with NULs to 13 characters, "@", its address.
inline QString deviceTitle(const QString &name, const QString &address)
{
    QString padded = name.left(13);
    padded.append(QString(13 - padded.size(), QChar(0)));
    return padded + QLatin1Char('@') + address;
}

#endif // SCANWINDOW_H
