#include "VHHttpConnection.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr qsizetype kMaxRequestSize = 64 * 1024;
constexpr qint64 kChunkSize = 256 * 1024;
constexpr qint64 kHighWater = 1024 * 1024; // bytes left in the socket's buffer before we wait

} // namespace

VHHttpConnection::VHHttpConnection(QTcpSocket *socket, Handler handler, QObject *parent)
    : QObject(parent), m_socket(socket), m_handler(std::move(handler))
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &VHHttpConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &VHHttpConnection::pump);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
}

VHHttpConnection::~VHHttpConnection() = default;

void VHHttpConnection::onReadyRead()
{
    if (m_replying) {
        m_socket->readAll(); // one request per connection
        return;
    }
    m_request += m_socket->readAll();
    if (!m_request.contains("\r\n\r\n")) {
        if (m_request.size() > kMaxRequestSize)
            startReply(VHHttpResponse::text(431, "Request Header Fields Too Large", "request too large\n"));
        return;
    }
    QByteArray method, target, host;
    if (!parseRequest(method, target, host)) {
        startReply(VHHttpResponse::text(400, "Bad Request", "bad request\n"));
        return;
    }
    startReply(m_handler(method, target, host));
}

bool VHHttpConnection::parseRequest(QByteArray &method, QByteArray &target, QByteArray &host) const
{
    const QList<QByteArray> lines = m_request.left(m_request.indexOf("\r\n\r\n")).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.") || !requestLine[1].startsWith('/'))
        return false;
    method = requestLine[0];
    target = requestLine[1];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "host")
            host = line.mid(colon + 1).trimmed();
    }
    return true;
}

void VHHttpConnection::startReply(VHHttpResponse response)
{
    m_replying = true;
    m_response = std::move(response);
    if (!m_response.filePath.isEmpty()) {
        m_file = std::make_unique<QFile>(m_response.filePath);
        if (!m_file->open(QIODevice::ReadOnly))
            m_response = VHHttpResponse::text(404, "Not Found", "not found\n");
    }
    m_toSend = m_response.headOnly ? 0 : m_response.length;
    if (m_response.sendLimit >= 0)
        m_toSend = qMin(m_toSend, m_response.sendLimit);
    m_socket->write(statusAndHeaders());
    m_bodyClock.start();
    pump();
}

QByteArray VHHttpConnection::statusAndHeaders() const
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(m_response.status) + ' ' + m_response.reason + "\r\n";
    head += "Content-Type: " + m_response.contentType + "\r\n";
    if (m_response.announceLength)
        head += "Content-Length: " + QByteArray::number(m_response.length) + "\r\n";
    if (m_response.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    if (!m_response.contentEncoding.isEmpty())
        head += "Content-Encoding: " + m_response.contentEncoding + "\r\n";
    if (!m_response.location.isEmpty())
        head += "Location: " + m_response.location + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

void VHHttpConnection::pump()
{
    if (!m_replying || m_closing || m_pausing || m_paceWaiting)
        return;
    bool fileEnded = false;
    while (m_sent < m_toSend && m_socket->bytesToWrite() < kHighWater) {
        if (pauseDue()) {
            m_pausing = true;
            QTimer::singleShot(m_response.pauseMs, this, [this] {
                m_pausing = false;
                m_paused = true;
                pump();
            });
            return;
        }
        const qint64 size = nextChunkSize();
        if (size <= 0) {
            m_paceWaiting = true; // ahead of the link speed: wait a little
            QTimer::singleShot(2, this, [this] {
                m_paceWaiting = false;
                pump();
            });
            return;
        }
        const QByteArray chunk = readBody(size);
        if (chunk.isEmpty()) {
            fileEnded = true; // the file shrank under us: end the reply short
            break;
        }
        writeBodyPart(chunk);
        m_sent += chunk.size();
    }
    if (m_sent >= m_toSend || fileEnded) {
        if (m_response.chunked && !fileEnded && m_sent == m_response.length && !m_response.headOnly)
            m_socket->write("0\r\n\r\n"); // the last chunk: only a body sent whole gets it
        close();
    }
}

void VHHttpConnection::writeBodyPart(const QByteArray &part)
{
    if (!m_response.chunked) {
        m_socket->write(part);
        return;
    }
    m_socket->write(QByteArray::number(part.size(), 16) + "\r\n");
    m_socket->write(part);
    m_socket->write("\r\n");
}

bool VHHttpConnection::pauseDue() const { return m_response.pauseAt >= 0 && !m_paused && m_sent >= m_response.pauseAt; }

qint64 VHHttpConnection::nextChunkSize() const
{
    qint64 size = qMin(kChunkSize, m_toSend - m_sent);
    if (m_response.pauseAt > m_sent && !m_paused)
        size = qMin(size, m_response.pauseAt - m_sent);
    if (m_response.bytesPerSecond > 0)
        size = qMin(size, paceAllowance());
    return size;
}

qint64 VHHttpConnection::paceAllowance() const
{
    const qint64 due = m_response.bytesPerSecond * m_bodyClock.nsecsElapsed() / 1000000000;
    return qMin(due + kChunkSize / 4 - m_sent, kChunkSize); // a small burst, then the pace
}

QByteArray VHHttpConnection::readBody(qint64 size)
{
    QByteArray chunk = m_file ? m_file->read(size) : m_response.body.mid(m_sent, size);
    const qint64 corrupt = m_response.corruptAt - m_sent;
    if (corrupt >= 0 && corrupt < chunk.size())
        chunk[corrupt] = char(chunk[corrupt] ^ 0x5A);
    return chunk;
}

void VHHttpConnection::close()
{
    m_closing = true;
    // Waits for the buffered bytes to go out, then emits disconnected.
    m_socket->disconnectFromHost();
}
