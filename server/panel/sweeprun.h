#pragma once

#include "socketserver.h"

#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

class InstrumentHost;

// A sweep started from a page: tx4410-cli's own sweep, its analysis and its picture, run as a
// child process against a port of the server's own that only it is told of and whose one
// connection holds the instrument's lock while it runs, so that no other client's command falls
// between its steps (socket clients wait, VXI-11 calls get the lock error or wait). One at a time.
class SweepRun final : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        int channel = 1; // 1 to 4
        QString from;    // codes; empty for the sweep's defaults
        QString to;
        QString points;
    };

    SweepRun(InstrumentHost &host, std::function<void(const QString &)> log);
    ~SweepRun() override;

    // The reason it cannot start (one running, a setting out of its form), or empty once started.
    QString start(const Settings &settings, double reference, double vdd);
    void stop();
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    // What a page shows: state, channel, progress, summary or error, and a serial number that
    // changes with each sweep.
    QJsonObject state() const;
    // The last sweep's CSV or picture ("sweep.csv", "sweep.png"); empty when there is none.
    QByteArray file(const QString &name) const;

signals:
    void changed();

private:
    void progress();
    void finished(int status);

    InstrumentHost &m_host;
    std::function<void(const QString &)> m_log;
    SocketServer m_port;
    QProcess m_process;
    QTimer m_progress;
    std::unique_ptr<QTemporaryDir> m_folder;
    Settings m_settings;
    QString m_state = QStringLiteral("none"); // none, running, done, stopped, failed
    QString m_summary;
    QString m_error;
    int m_points = 0;
    int m_lastCode = -1;
    QByteArray m_codeBefore; // the channel's code when the sweep began, set again after it
    int m_serial = 0;
};
