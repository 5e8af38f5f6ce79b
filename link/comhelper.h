#pragma once

#include "link/portinfo.h"
#include "link/requestline.h"

#include <QByteArray>
#include <QObject>
#include <QThread>
#include <QVector>

#include <atomic>
#include <cstdint>

// Registers the types of the port's queued signals under their own names, once.
void registerLinkMetaTypes();

class QIODevice;
class PortProvider;

// Owns the one port to the controller: chooses and opens it, notices when it vanishes, and
// hands it to its request line, which carries the traffic (RequestLine). Lives in the
// coordinator thread and is driven by its 50 ms tick.
class ComHelper : public QObject
{
    Q_OBJECT

public:
    enum PortState {
        PortInit = 0,
        PortIdle = 1,
        PortChoose = 2,
        PortAwaitSelection = 3,
        PortCheckReadiness = 4,
        PortWaitReadiness = 5,
        PortOpen = 6,
        PortConnected = 7,
        PortLost = 10,
    };
    Q_ENUM(PortState)

    static constexpr uint8_t NO_DEVICE_ADDRESS = 0xEE;
    // While a port is connected, the port list is read every this many ticks (5 s).
    static constexpr int LISTING_TICKS_WHILE_CONNECTED = 100;

    // The provider must outlive the port manager.
    explicit ComHelper(PortProvider *provider, QObject *parent = nullptr);
    ~ComHelper() override;

    PortState state() const { return m_state; }
    // The traffic on the port: requesters attach their channels to it.
    RequestLine *requestLine() { return &m_line; }
    int queuedRequests() const { return m_line.queuedRequests(); }
    bool isWatchDogRunning() const { return m_line.isWatchDogRunning(); }
    // A frame answer may still come: a frame request's slot is open, or a frame has begun
    // on the line and its bytes are still coming. The bootloader probe waits meanwhile, so
    // that no byte of a late frame answer passes for its sync's answer.
    bool mayFrameAnswerArrive() const { return m_line.mayFrameAnswerArrive(); }

    // At exit, before shutdown(): writes one request at once, past the queue and any
    // request in flight, and waits briefly until it has left; no answer is awaited.
    bool writeLastRequest(uint8_t vyxMsgId, const QByteArray &msg);

public slots:
    // Port life cycle. The first three may be called from any thread.
    void startPortSelection();
    void selectPort(const QString &portName);
    void portSelectionCanceled();
    bool isConnected() const { return m_portOpen.load(); }
    void handleComportReadiness(bool isReady);
    // Why the chosen port cannot be opened; shown once per reason.
    void reportPortProblem(const QString &problem);
    void handleTimeout();
    // At exit, in the owner thread: closes the port and stops the readiness check, quietly.
    void shutdown();

    // Traffic: the address of later frames.
    void setVyxAddress(uint8_t address);
    // Low latency of the open port while the firmware is written (where the port allows).
    void setLowLatency(bool on);

signals:
    void portConnectionStateChange(QString portName, bool m_isZorbel, bool isConnecting, bool isConnected);
    void needPortSelectAndInform(QList<PortInfo> ports, bool zorbelPorts);
    void portsUpdate(QList<PortInfo> zorbelPorts, QList<PortInfo> genPorts);
    void hidePortMessage();
    // The choice offered by needPortSelectAndInform is over without the user (the port set
    // changed): the window closes it; an answer that still comes is ignored.
    void portChoiceClosed();
    // A user text: why the chosen port cannot be opened.
    void portProblem(QString problem);
    void checkComportReadiness(QString portName);
    void comPortOpened();
    void comPortClosed();

private:
    bool runsInOwnThread() const { return QThread::currentThread() == thread(); }
    bool isPortListingDue();
    void refreshPortLists(const QList<PortInfo> &ports);
    void actOnState();
    void choosePort();
    void startReadinessCheck();
    void openSelectedPort();
    void closeLostPort();
    void takePortAsLost();
    void stopReadinessThread();
    void reportIdle();

    PortProvider *m_provider;

    // Port life cycle.
    QList<PortInfo> m_zorbelPorts;
    QList<PortInfo> m_genPorts;
    int m_knownPortCount = 0;
    int m_ticksSinceListing = 0;
    QIODevice *m_port = nullptr;
    std::atomic<bool> m_portOpen {false};
    PortState m_state = PortInit;
    QString m_selectedPort;
    bool m_isZorbel = false;
    QThread m_readinessThread;
    QString m_lastPortProblem;

    RequestLine m_line;
};
