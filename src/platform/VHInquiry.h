#pragma once

#include "VHModelInfo.h"

#include <QByteArray>

#include <optional>

// Reading the answer of the standard INQUIRY the device scans send.
namespace VHInquiry {

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
