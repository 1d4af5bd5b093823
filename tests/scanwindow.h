#ifndef SCANWINDOW_H
#define SCANWINDOW_H

#include "deviceprotocol.h"
#include "settingsform.h"
#include "setuptool.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>

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

    // Replies read so far, as the receive label counts them.
    int received() const { return receiveLabel->text().section(QLatin1Char(' '), -1).toInt(); }

    // The window's sockets bound to the device port, where the replies arrive.
    QList<QUdpSocket *> replySockets() const
    {
        QList<QUdpSocket *> sockets;
        for (QUdpSocket *socket : window.findChildren<QUdpSocket *>()) {
            if (socket->state() == QAbstractSocket::BoundState
                && socket->localPort() == DeviceProtocol::devicePort)
                sockets.append(socket);
        }
        return sockets;
    }

    // Whether a reply socket of the window still holds datagrams it has not read.
    bool repliesPending() const
    {
        const QList<QUdpSocket *> sockets = replySockets();
        return std::any_of(sockets.cbegin(), sockets.cend(),
                           [](QUdpSocket *socket) { return socket->hasPendingDatagrams(); });
    }

    // The settings windows on screen.
    static QList<SettingsForm *> settingsWindows()
    {
        QList<SettingsForm *> windows;
        const QWidgetList all = QApplication::topLevelWidgets();
        for (QWidget *widget : all) {
            if (auto *window = qobject_cast<SettingsForm *>(widget); window && window->isVisible())
                windows.append(window);
        }
        return windows;
    }

    // Double-clicks row `row` as a technician does and returns the window it opened.
    SettingsForm *openRow(int row)
    {
        QListWidgetItem *item = list->item(row);
        if (!item)
            return nullptr;
        const QList<SettingsForm *> before = settingsWindows();
        const QPoint centre = list->visualItemRect(item).center();
        // An item view opens on a double-click only after the press that selected the row.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        for (SettingsForm *window : settingsWindows()) {
            if (!before.contains(window))
                return window;
        }
        return nullptr;
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
