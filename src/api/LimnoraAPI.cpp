#include "LimnoraAPI.h"

#include "LimnoraLauncher.h"
#include "SettingsReader.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPromise>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTextBoundaryFinder>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

namespace limnoscope {
namespace {

constexpr char txt2imgPath[] = "/sdapi/v1/txt2img";
constexpr char defaultSeedMode[] = "Scale Alike";

// Fixed log lines go to standard output whole, one write per line.
void logLine(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// Writes one JSON object with its keys in the order they are added.
class JsonObjectWriter
{
public:
    void addString(QLatin1String key, const QString& value)
    {
        addKey(key);
        appendString(value);
    }
    void addInteger(QLatin1String key, std::int64_t value) { addRaw(key, QByteArray::number(qint64(value))); }
    void addUnsigned(QLatin1String key, std::uint64_t value) { addRaw(key, QByteArray::number(quint64(value))); }
    void addNumber(QLatin1String key, double value)
    {
        addKey(key);
        appendNumber(value);
    }
    void addRaw(QLatin1String key, const QByteArray& json)
    {
        addKey(key);
        m_text += json;
    }

    [[nodiscard]] bool isValid() const { return m_valid; }
    [[nodiscard]] QByteArray finish() const { return m_valid ? m_text + '}' : QByteArray(); }

private:
    void addKey(QLatin1String key)
    {
        m_text += m_text.size() == 1 ? "\"" : ",\"";
        m_text += QByteArrayView(key.data(), key.size());
        m_text += "\":";
    }
    void appendNumber(double value)
    {
        if (!std::isfinite(value)) {
            m_valid = false;
            return;
        }
        m_text += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
    }
    void appendString(const QString& value)
    {
        static constexpr char hex[] = "0123456789abcdef";
        m_text += '"';
        for (const char c : value.toUtf8()) {
            const auto byte = static_cast<unsigned char>(c);
            switch (c) {
            case '"':
                m_text += "\\\"";
                break;
            case '\\':
                m_text += "\\\\";
                break;
            case '\n':
                m_text += "\\n";
                break;
            case '\r':
                m_text += "\\r";
                break;
            case '\t':
                m_text += "\\t";
                break;
            case '\b':
                m_text += "\\b";
                break;
            case '\f':
                m_text += "\\f";
                break;
            default:
                if (byte < 0x20) {
                    m_text += "\\u00";
                    m_text += hex[byte >> 4];
                    m_text += hex[byte & 0xf];
                } else {
                    m_text += c;
                }
            }
        }
        m_text += '"';
    }

    QByteArray m_text = "{";
    bool m_valid = true;
};

QByteArray lorasJSON(const QList<LoraEntry>& loras, bool* valid)
{
    QByteArray text = "[";
    for (const LoraEntry& lora : loras) {
        JsonObjectWriter object;
        object.addString(QLatin1String("file"), lora.file);
        object.addNumber(QLatin1String("weight"), lora.weight);
        object.addString(QLatin1String("mode"), lora.mode);
        if (!object.isValid()) {
            *valid = false;
            return {};
        }
        if (text.size() > 1)
            text += ',';
        text += object.finish();
    }
    return text + ']';
}

// Where the first `count` user-perceived characters (grapheme clusters) of the text end, or -1
// while the text holds no character beyond them: only a following character proves the last
// one complete.
qsizetype charactersEnd(const QString& text, qsizetype count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype i = 0; i < count && end >= 0; ++i)
        end = finder.toNextBoundary();
    return end < 0 || end >= text.size() ? -1 : end;
}

// The body's first characters for the log, or nothing when its bytes are not UTF-8. Decodes in
// blocks that double, so that no more is turned into text than the logged characters need.
std::optional<QString> loggedBody(QByteArrayView body)
{
    constexpr qsizetype firstDecodeBlockBytes = 4096;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text;
    qsizetype block = firstDecodeBlockBytes;
    for (qsizetype at = 0; at < body.size(); at += block, block *= 2) {
        text += decoder.decode(body.sliced(at, qMin(block, body.size() - at)));
        if (decoder.hasError())
            return std::nullopt;
        const qsizetype end = charactersEnd(text, LimnoraAPIService::loggedResponseCharacters);
        if (end >= 0)
            return text.left(end);
    }
    return text;
}

// Errors of the connection or the protocol, as opposed to an HTTP status that Qt also reports
// as an error: any status is an answer and is logged as one.
bool isTransportError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return (code >= 1 && code < 200) || (code >= 300 && code < 400);
}

// Logs the reply, of whose body only `head` was kept, and returns the HTTP status it carried, or
// 0 when there was no answer. `cut` tells that the reply was ended for answering too much.
int logResponse(QNetworkReply* reply, const QByteArray& head, bool cut)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Hanging up on an oversized body is ours, not a failure of the answer.
    const QNetworkReply::NetworkError error = cut ? QNetworkReply::NoError : reply->error();
    if (isTransportError(error) || (error != QNetworkReply::NoError && !status.isValid())) {
        logLine(QStringLiteral("Limnoscope: request error: ") + reply->errorString());
        return 0;
    }
    if (!status.isValid())
        return 0;
    logLine(QStringLiteral("Limnoscope: response status: ") + QString::number(status.toInt()));
    // Redirects are not followed: where the answer points to is part of the answer.
    const QByteArray location = reply->rawHeader("Location");
    if (!location.isEmpty())
        logLine(QStringLiteral("Limnoscope: response location: ")
            + QString::fromLatin1(location.left(LimnoraAPIService::loggedResponseCharacters)));
    if (const std::optional<QString> body = loggedBody(head))
        logLine(QStringLiteral("Limnoscope: response body: ") + *body);
    return status.toInt();
}

} // namespace

QByteArray txt2imgBody(const LimnoraMetadata& metadata)
{
    const SettingsReader settings(metadata.settings);
    JsonObjectWriter body;
    body.addString(QLatin1String("prompt"), metadata.prompt);
    body.addString(QLatin1String("negative_prompt"), metadata.negativePrompt);

    const auto addInteger = [&](const char* setting, const char* key) {
        if (const auto value = settings.integer(setting))
            body.addInteger(QLatin1String(key), *value);
    };
    const auto addNumber = [&](const char* setting, const char* key) {
        if (const auto value = settings.number(setting))
            body.addNumber(QLatin1String(key), *value);
    };
    const auto addString = [&](const char* setting, const char* key) {
        if (const auto value = settings.text(setting))
            body.addString(QLatin1String(key), *value);
    };

    addInteger("Steps", "steps");
    addNumber("Guidance Scale", "guidance_scale");
    if (const auto seed = settings.unsignedInteger("Seed"))
        body.addUnsigned(QLatin1String("seed"), *seed);
    body.addString(QLatin1String("seed_mode"), settings.text("Seed Mode").value_or(QLatin1String(defaultSeedMode)));
    addString("Sampler", "sampler");
    addNumber("Shift", "shift");
    addString("Model", "model");
    addInteger("Batch Count", "batch_count");
    addInteger("Batch Size", "batch_size");
    if (const auto size = settings.size()) {
        body.addInteger(QLatin1String("width"), size->width);
        body.addInteger(QLatin1String("height"), size->height);
    }
    bool lorasValid = true;
    const QByteArray loras = lorasJSON(metadata.loras, &lorasValid);
    if (!lorasValid)
        return {};
    body.addRaw(QLatin1String("loras"), loras);
    return body.finish();
}

LimnoraAPIService* LimnoraAPIService::shared()
{
    Q_ASSERT(QCoreApplication::instance());
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    static LimnoraAPIService* const instance = new LimnoraAPIService(limnoraAPIPort, QCoreApplication::instance());
    return instance;
}

LimnoraAPIService::LimnoraAPIService(quint16 port, QObject* parent)
    : QObject(parent)
    , m_port(port)
    , m_activePort(port)
    , m_pollTimer(new QTimer(this))
    , m_network(new QNetworkAccessManager(this))
{
    // Only the loopback address is ever spoken to: no proxy may stand in between.
    m_network->setProxy(QNetworkProxy::NoProxy);
    // Nor is any redirect followed: the prompt goes there and nowhere else, whatever the answer says.
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    m_pollTimer->setSingleShot(true);
    m_pollTimer->setTimerType(Qt::PreciseTimer);
    connect(m_pollTimer, &QTimer::timeout, this, [this] { pollOnce(m_pollGeneration); });
    startPolling();
}

void LimnoraAPIService::startPolling()
{
    ++m_pollGeneration;
    m_pollTimer->stop();
    pollOnce(m_pollGeneration);
}

void LimnoraAPIService::pollOnce(quint64 generation)
{
    // The next probe is timed from the end of this one; a newer loop ends this one.
    checkAvailability().then(this, [this, generation] {
        if (generation == m_pollGeneration)
            m_pollTimer->start(probeInterval);
    });
}

QFuture<void> LimnoraAPIService::checkAvailability()
{
    return checkTCPPort(m_port).then(this, [this](bool open) {
        if (open)
            m_activePort = m_port;
        setAvailable(open);
        emit availabilityChecked(open);
    });
}

QFuture<bool> LimnoraAPIService::checkTCPPort(quint16 port)
{
    auto promise = std::make_shared<QPromise<bool>>();
    promise->start();
    QFuture<bool> future = promise->future();

    auto* socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);

    const auto finish = [promise, socket](bool open) {
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
        promise->addResult(open);
        promise->finish();
    };
    connect(socket, &QTcpSocket::connected, socket, [finish] { finish(true); });
    connect(socket, &QTcpSocket::errorOccurred, socket, [finish] { finish(false); });
    connect(deadline, &QTimer::timeout, socket, [finish] { finish(false); });
    deadline->start(probeConnectTimeout);
    socket->connectToHost(QHostAddress(QLatin1String(limnoraAPIHost)), port);
    return future;
}

void LimnoraAPIService::setAvailable(bool available)
{
    if (m_isAvailable == available)
        return;
    m_isAvailable = available;
    emit isAvailableChanged(available);
}

void LimnoraAPIService::generate(const LimnoraMetadata& metadata)
{
    // Looking Limnora up reads files and launching it starts a process: both off the GUI thread.
    // Continued on the application object: the service may be destroyed while the worker runs.
    QPointer<LimnoraAPIService> self(this);
    QtConcurrent::run(&openLimnoraIfInstalled).then(qApp, [self, metadata](bool launched) {
        if (!self)
            return;
        if (!launched) {
            self->sendGenerateRequest(metadata);
            return;
        }
        QTimer::singleShot(
            launchSettleDelay, Qt::PreciseTimer, self, [self, metadata] { self->sendGenerateRequest(metadata); });
    });
}

void LimnoraAPIService::sendGenerateRequest(const LimnoraMetadata& metadata)
{
    if (m_activePort < 0 || m_activePort > 65535)
        return;
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QLatin1String(limnoraAPIHost));
    url.setPort(int(m_activePort));
    url.setPath(QLatin1String(txt2imgPath));
    if (!url.isValid())
        return;

    const QByteArray body = txt2imgBody(metadata);
    if (body.isEmpty()) {
        logLine(QStringLiteral("Limnoscope: JSONSerialization failed"));
        return;
    }
    logLine(QStringLiteral("Limnoscope: sending POST to ") + url.toString());
    logLine(QStringLiteral("Limnoscope: payload = ") + QString::fromUtf8(body));
    logLine(QStringLiteral("Limnoscope: body bytes = ") + QString::number(body.size()));

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    request.setTransferTimeout(int(requestTimeout.count()));
    QNetworkReply* reply = m_network->post(request, body);
    // Only the start of the body is ever logged: keep at most the bound, then hang up.
    reply->setReadBufferSize(responseReadBufferBytes);
    struct Received {
        QByteArray head;
        bool cut = false;
    };
    auto received = std::make_shared<Received>();
    connect(reply, &QNetworkReply::readyRead, this, [reply, received] {
        if (received->cut)
            return;
        received->head += reply->read(maxResponseBytes - received->head.size());
        if (received->head.size() == maxResponseBytes && reply->bytesAvailable() > 0) {
            received->cut = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, received] {
        if (!received->cut)
            received->head += reply->read(maxResponseBytes - received->head.size());
        const int status = logResponse(reply, received->head, received->cut);
        reply->deleteLater();
        constexpr int firstSuccess = 200;
        constexpr int firstNonSuccess = 300;
        const GenerateOutcome outcome = status == 0              ? GenerateOutcome::unreachable
            : status >= firstSuccess && status < firstNonSuccess ? GenerateOutcome::sent
                                                                 : GenerateOutcome::refused;
        emit generateFinished(outcome, status);
    });
}

} // namespace limnoscope
