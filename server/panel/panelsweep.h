#pragma once

#include "sweepplan.h"
#include "sweepreport.h"
#include "sweeprunner.h"

#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class CommandTarget;
class InstrumentHost;

// A sweep started from a page, run in this process by the sweep library on the event loop. It is
// a session of the host that holds the instrument's lock from before its first word until the
// channel is set back to its code from before the sweep, so that no other client's command
// falls between its steps (socket clients wait, VXI-11 calls get the lock error or wait). One at
// a time. The picture is drawn by tx4410-plot, a child of its own, so that the server never
// loads Qt Gui; no descriptor of the server reaches it.
class PanelSweep final : public QObject
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

    PanelSweep(InstrumentHost &host, std::function<void(const QString &)> log);
    // A sweep still running ends: the channel set back, the lock let go.
    ~PanelSweep() override;

    // The reason it cannot start (one running, a setting out of its form), or empty once started.
    // `board` names the board in its record: its port path, or "sim".
    QString start(const Settings &settings, double reference, double vdd, const QString &board);
    void stop();
    bool running() const { return m_state == u"running"; }

    // What a page shows: state, channel, progress, summary or error, and a serial number that
    // changes with each sweep.
    QJsonObject state() const;
    // The last sweep's CSV or picture ("sweep.csv", "sweep.png"); empty when there is none.
    QByteArray file(const QString &name) const;

signals:
    void changed();

private:
    void finished(Sweep::Runner::Outcome outcome);
    void draw();
    void done();

    InstrumentHost &m_host;
    std::function<void(const QString &)> m_log;
    std::unique_ptr<CommandTarget> m_session;
    std::unique_ptr<Sweep::ReadbackSource> m_source;
    std::unique_ptr<Sweep::Runner> m_runner;
    Sweep::Plan m_plan;
    Sweep::Facts m_facts;
    QStringList m_head;
    QByteArray m_csv;
    QByteArray m_picture;
    QProcess m_plot;
    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_state = QStringLiteral("none"); // none, running, done, stopped, failed
    QString m_ending;                         // what it will be once its picture is drawn
    QString m_summary;
    QString m_error;
    int m_channel = 1;
    int m_points = 0; // measured so far
    bool m_closing = false;
    QByteArray m_codeBefore; // the channel's code when the sweep began, set again after it
    int m_serial = 0;
};
