#pragma once

#include <QByteArray>
#include <QString>

// One reply of the package server: a status line, a body held in memory or
// streamed from a file, and the faults that shape how it is sent.
struct VHHttpResponse
{
    int status = 200;
    QByteArray reason = "OK";
    QByteArray contentType = "application/octet-stream";
    QByteArray body;   // used when filePath is empty
    QString filePath;  // streamed from disk
    qint64 length = 0; // announced in Content-Length
    bool headOnly = false;
    bool announceLength = true; // false: no Content-Length, the body ends where the connection does
    bool chunked = false;       // "Transfer-Encoding: chunked"
    QByteArray contentEncoding; // "Content-Encoding" of a body that is already encoded, e.g. "gzip"
    QByteArray location;        // "Location" of a redirect

    qint64 sendLimit = -1; // stop after this many body bytes and close (truncation; no last chunk)
    qint64 pauseAt = -1;   // stall once when this many body bytes are out
    int pauseMs = 0;
    qint64 corruptAt = -1;     // this body byte goes out changed
    qint64 bytesPerSecond = 0; // pace the body like a link of this speed; 0: as fast as possible

    static VHHttpResponse text(int status, const QByteArray &reason, const QByteArray &body,
                               const QByteArray &contentType = "text/plain; charset=utf-8")
    {
        VHHttpResponse response;
        response.status = status;
        response.reason = reason;
        response.body = body;
        response.length = body.size();
        response.contentType = contentType;
        return response;
    }
};
