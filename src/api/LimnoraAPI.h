#pragma once

#include "LimnoraMetadata.h"

#include <QByteArray>
#include <QFuture>
#include <QObject>
#include <QString>

#include <chrono>

class QNetworkAccessManager;
class QTimer;

namespace limnoscope {

// The text-to-image request body for a record: compact UTF-8 JSON text with the keys
// "prompt", "negative_prompt", "steps", "guidance_scale", "seed", "seed_mode", "sampler",
// "shift", "model", "batch_count", "batch_size", "width", "height", "loras" in that order.
// A setting that is missing or does not parse strictly leaves its key out; "seed_mode" falls
// back to "Scale Alike". Returned as bytes rather than a QJsonObject so that a seed above
// 2^63 - 1 is written exactly. Empty when the record holds a number JSON cannot carry
// (a LoRA weight that is infinite or not a number). Pure; any thread.
[[nodiscard]] QByteArray txt2imgBody(const LimnoraMetadata& metadata);

// Limnoscope's one link to Limnora's local HTTP API: probes the API port on the loopback
// address every 3 s and publishes whether it accepts connections, and posts text-to-image
// requests built from a record. Lives on the GUI thread; nothing on it ever blocks.
class LimnoraAPIService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAvailable READ isAvailable NOTIFY isAvailableChanged)
    Q_PROPERTY(qint64 activePort READ activePort)

public:
    static constexpr quint16 limnoraAPIPort = 7860;
    // The loopback address the API is probed and posted to.
    static constexpr const char* limnoraAPIHost = "127.0.0.1";
    static constexpr std::chrono::milliseconds probeConnectTimeout { 1500 };
    static constexpr std::chrono::milliseconds probeInterval { 3000 };
    static constexpr std::chrono::milliseconds launchSettleDelay { 500 };
    static constexpr std::chrono::milliseconds requestTimeout { 600'000 };
    static constexpr qsizetype loggedResponseCharacters = 500;
    // A response body is read up to this many bytes, then the connection is closed: the log
    // shows its start only, and a flooding peer must not fill the memory.
    static constexpr qsizetype maxResponseBytes = 1024 * 1024;
    static constexpr qint64 responseReadBufferBytes = 64 * 1024;

    // How a text-to-image request ended: answered with a success status, answered with another
    // status, or no answer at all (nothing listening, connection lost, timed out).
    enum class GenerateOutcome { sent, refused, unreachable };
    Q_ENUM(GenerateOutcome)

    // The application's instance on `limnoraAPIPort`, created on first use (on the GUI thread,
    // after the application object); it starts probing at once and lives as long as the
    // application object. The application hands it to the views.
    [[nodiscard]] static LimnoraAPIService* shared();

    // A service that probes and posts to `port` of the loopback address (tests use free ports).
    explicit LimnoraAPIService(quint16 port, QObject* parent = nullptr);

    [[nodiscard]] bool isAvailable() const { return m_isAvailable; }
    [[nodiscard]] qint64 activePort() const { return m_activePort; }

    // Ends the running probe loop, if any, and starts a new one whose first probe runs now.
    void startPolling();

    // One probe of the API port, then the update of `isAvailable` and `activePort`.
    QFuture<void> checkAvailability();

    // Completes with true when a TCP connection to 127.0.0.1 at `port` is accepted within
    // 1.5 s. Nothing is sent; the connection is closed at once.
    [[nodiscard]] QFuture<bool> checkTCPPort(quint16 port);

    // Brings Limnora forward (launching it when installed), then posts the record's settings
    // as a text-to-image request. Returns at once; the outcome is logged to standard output and
    // announced by `generateFinished`. Calls are independent and may overlap.
    void generate(const LimnoraMetadata& metadata);

signals:
    void isAvailableChanged(bool isAvailable);
    // After every probe, whether or not `isAvailable` changed.
    void availabilityChecked(bool portOpen);
    // Once for every request that was sent; `httpStatus` is 0 when there was no answer.
    void generateFinished(limnoscope::LimnoraAPIService::GenerateOutcome outcome, int httpStatus);

private:
    void setAvailable(bool available);
    void pollOnce(quint64 generation);
    void sendGenerateRequest(const LimnoraMetadata& metadata);

    quint16 m_port;
    qint64 m_activePort;
    bool m_isAvailable = false;
    quint64 m_pollGeneration = 0;
    QTimer* m_pollTimer;
    QNetworkAccessManager* m_network;
};

} // namespace limnoscope
