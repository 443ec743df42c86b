#pragma once

#include <QString>

#include <optional>

// Ways the package server can misbehave on purpose, per request path.
enum class VHServerFault {
    None,
    Http500,           // "500 Internal Server Error"
    TruncatedBody,     // the full Content-Length announced, half the body sent, then closed
    WrongMd5,          // index: a wrong "md5hash"; a file: one byte of it changed on the way
    SlowReply,         // the body stalls halfway for the server's slow pause
    EmptyBody,         // "200 OK" without a body
    NonJsonBody,       // "200 OK" with an HTML error page (text/html, over a kilobyte)
    TruncatedNoLength, // no Content-Length: half the body, then closed, which looks like its end
    GzipBody,          // the whole body gzip-encoded (well-behaved, for comparison)
    GzipTruncated,     // gzip-encoded without Content-Length, half of the encoded bytes, then closed
    ChunkedBody,       // the whole body in chunks (well-behaved, for comparison)
    ChunkedTruncated,  // chunked, half the body, then closed without the last chunk
};

// The names used on the command line and in control files:
// none, http500, truncated, wrongmd5, slow, empty, nonjson, cutnolength, gzip, gzipcut, chunked, chunkedcut.
QString faultName(VHServerFault fault);
std::optional<VHServerFault> faultFromName(const QString &name);
