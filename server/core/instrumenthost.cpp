#include "instrumenthost.h"

#include "instrument.h"

#include <algorithm>

Session::Session(InstrumentHost &host, Interface interface, QString peer)
    : m_host(host)
    , m_interface(interface)
    , m_peer(std::move(peer))
{
    m_host.opened(*this);
}

Session::~Session()
{
    m_host.closed(*this);
}

namespace {

// A client that learns of a restart only from the power-on bit: not a page, not our own sweep.
bool isScpiClient(const Session *session)
{
    return session->interface() == Session::Interface::Socket
            || session->interface() == Session::Interface::Vxi11;
}

} // namespace

InstrumentHost::InstrumentHost(Scpi::Instrument &instrument)
    : m_instrument(instrument)
{ }

InstrumentHost::~InstrumentHost() = default;

QByteArray InstrumentHost::execute(std::string_view message, Session &session)
{
    m_executing = &session;
    QByteArray answers = m_instrument.execute(message, session.status);
    m_executing = nullptr;
    if (m_instrument.takeDeferred())
        m_awaiting.push_back(&session);
    emit executed();
    return answers;
}

void InstrumentHost::opened(Session &session)
{
    m_sessions.push_back(&session);
    if (isScpiClient(&session) && std::exchange(m_unseenRestart, false))
        session.status.setEvents(Scpi::Event::powerOn);
}

void InstrumentHost::closed(Session &session)
{
    std::erase(m_sessions, &session);
    std::erase(m_turns, &session);
    std::erase(m_parked, &session);
    std::erase(m_awaiting, &session);
    // Let go after the list is whole again: a wait may own what it waits for.
    std::list<Wait> gone;
    for (auto wait = m_waits.begin(); wait != m_waits.end();) {
        const auto next = std::next(wait);
        if (wait->session == &session)
            gone.splice(gone.end(), m_waits, wait);
        wait = next;
    }
    if (m_holder == &session) {
        m_holder = nullptr;
        released();
    }
}

bool InstrumentHost::awaiting(const Session &session) const
{
    return std::ranges::find(m_awaiting, &session) != m_awaiting.end();
}

void InstrumentHost::answer(Session *session, const QByteArray &line, int error,
                            const QByteArray &detail)
{
    if (std::ranges::find(m_sessions, session) == m_sessions.end())
        return;
    std::erase(m_awaiting, session);
    if (error != 0)
        session->status.report(error,
                               std::string_view(detail.constData(), std::size_t(detail.size())));
    session->answerLater(line);
    wantTurn(*session);
}

int InstrumentHost::sessionCount(Session::Interface interface) const
{
    return int(std::ranges::count(m_sessions, interface, &Session::interface));
}

void InstrumentHost::wantTurn(Session &session)
{
    if (!session.m_queued) {
        session.m_queued = true;
        m_turns.push_back(&session);
    }
    runTurns();
}

// One turn for each session waiting; those with more wait for the next round, after the event
// loop has had its say (new connections, answers going out).
void InstrumentHost::runTurns()
{
    if (m_running)
        return;
    m_running = true;
    for (std::size_t round = m_turns.size(); round > 0 && !m_turns.empty(); --round) {
        Session *session = m_turns.front();
        m_turns.pop_front();
        if (!mayRun(*session)) {
            m_parked.push_back(session); // still queued: it runs once the lock goes
            continue;
        }
        session->m_queued = false;
        if (awaiting(*session))
            continue; // its turns go on once its answer is in
        if (session->runTurn()) {
            session->m_queued = true;
            m_turns.push_back(session);
        }
    }
    m_running = false;
    if (!m_turns.empty())
        QTimer::singleShot(0, this, &InstrumentHost::runTurns);
}

bool InstrumentHost::lock(Session &session)
{
    if (m_holder != nullptr)
        return false;
    m_holder = &session;
    return true;
}

bool InstrumentHost::unlock(Session &session)
{
    if (m_holder != &session)
        return false;
    m_holder = nullptr;
    released();
    return true;
}

void InstrumentHost::released()
{
    for (Session *parked : std::exchange(m_parked, {}))
        m_turns.push_back(parked);
    if (!m_turns.empty())
        QTimer::singleShot(0, this, &InstrumentHost::runTurns);
    serveWaits();
}

// The waits that can go ahead now, in the order they began; each may change the lock.
void InstrumentHost::serveWaits()
{
    if (m_serving)
        return;
    m_serving = true;
    while (true) {
        // A session that waits holds no lock: whether it takes it or only runs, it needs the
        // lock free.
        const auto ready = std::ranges::find_if(
                m_waits, [this](const Wait &) { return m_holder == nullptr; });
        if (ready == m_waits.end())
            break;
        if (ready->take)
            m_holder = ready->session;
        std::list<Wait> served;
        served.splice(served.end(), m_waits, ready);
        served.front().done(true);
    }
    m_serving = false;
}

InstrumentHost::WaitId InstrumentHost::awaitLock(Session &session, bool take,
                                                 std::chrono::milliseconds timeout,
                                                 std::function<void(bool)> done)
{
    const WaitId id = ++m_lastWait;
    Wait &wait = m_waits.emplace_back(
            Wait {id, &session, take, std::move(done), std::make_unique<QTimer>()});
    wait.timer->setSingleShot(true);
    connect(wait.timer.get(), &QTimer::timeout, this, [this, id] {
        const auto expired = std::ranges::find(m_waits, id, &Wait::id);
        if (expired == m_waits.end())
            return;
        std::list<Wait> expiredWait;
        expiredWait.splice(expiredWait.end(), m_waits, expired);
        expiredWait.front().timer.release()->deleteLater(); // the timer that is calling
        expiredWait.front().done(false);
    });
    wait.timer->start(timeout);
    // The lock may be free already (the caller looked before a turn that released it).
    QTimer::singleShot(0, this, &InstrumentHost::serveWaits);
    return id;
}

void InstrumentHost::cancelWait(WaitId id)
{
    std::list<Wait> gone;
    const auto found = std::ranges::find(m_waits, id, &Wait::id);
    if (found != m_waits.end())
        gone.splice(gone.end(), m_waits, found);
}

void InstrumentHost::boardRestarted()
{
    ++m_restarts;
    m_instrument.boardRestarted();
    m_unseenRestart = std::ranges::none_of(m_sessions, isScpiClient);
    for (Session *session : m_sessions)
        session->status.setEvents(Scpi::Event::powerOn);
    emit executed();
}
