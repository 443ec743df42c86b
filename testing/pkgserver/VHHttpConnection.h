#pragma once

#include "VHHttpResponse.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>

#include <functional>
#include <memory>

class QTcpSocket;

// One HTTP/1.1 connection of the package server: reads one GET request,
// asks the handler for the reply, streams it with a bounded amount in the
// socket's buffer, then closes ("Connection: close").
class VHHttpConnection : public QObject
{
    Q_OBJECT
public:
    // method, request target, Host header -> reply
    using Handler = std::function<VHHttpResponse(const QByteArray &, const QByteArray &, const QByteArray &)>;

    VHHttpConnection(QTcpSocket *socket, Handler handler, QObject *parent);
    ~VHHttpConnection() override;

private:
    void onReadyRead();
    bool parseRequest(QByteArray &method, QByteArray &target, QByteArray &host) const;
    void startReply(VHHttpResponse response);
    QByteArray statusAndHeaders() const;
    void pump();
    qint64 nextChunkSize() const;
    qint64 paceAllowance() const;
    QByteArray readBody(qint64 size);
    void writeBodyPart(const QByteArray &part);
    bool pauseDue() const;
    void close();

    QTcpSocket *m_socket; // child
    Handler m_handler;
    QByteArray m_request;
    bool m_replying = false;
    bool m_closing = false;
    VHHttpResponse m_response;
    std::unique_ptr<QFile> m_file;
    qint64 m_sent = 0;
    qint64 m_toSend = 0;
    bool m_pausing = false;
    bool m_paused = false;
    QElapsedTimer m_bodyClock;
    bool m_paceWaiting = false;
};
