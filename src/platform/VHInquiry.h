#pragma once

#include "VHModelInfo.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>

// Sending the standard INQUIRY the device scans use and reading its answer.
namespace VHInquiry {

// Sends one command block to the device and reads `length` bytes into `buffer`.
using Transport = std::function<bool(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length)>;

// The 128-byte answer to INQUIRY sent through `send`; empty when it fails.
QByteArray read(const Transport &send);

// The first row, in table order, whose identification occurs anywhere in the
// answer. Rows with an empty identification never match (an empty text occurs
// in everything). Logs "ba=" and one "image signature=" line per row tried.
std::optional<VHModelInfo> matchModel(const QByteArray &answer, const VHModelTable &models);

// The 4 bytes that start 4 bytes after "IAP I" (the IAP tag); empty when the
// marker is missing or the answer ends too early.
QByteArray iapTag(const QByteArray &answer);

// The 4 bytes at offset 27 (inside the product field); empty when the answer is shorter.
QByteArray productTag(const QByteArray &answer);

// The bytes as printable text for the log: anything outside 0x20..0x7E becomes '.'.
QByteArray printable(const QByteArray &bytes);

} // namespace VHInquiry
