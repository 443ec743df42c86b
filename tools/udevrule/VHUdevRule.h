#pragma once

#include "VHModelInfo.h"

#include <QByteArray>
#include <QStringList>

// The udev rule that lets the user at the seat open the nodes of the devices
// the model table identifies, written from the table itself so the two never
// disagree. udev sees only the INQUIRY vendor (8 bytes) and model (16 bytes)
// fields; the SCSI scan looks at the whole answer.
namespace VHUdevRule {

constexpr int kVendorFieldLength = 8;
constexpr int kModelFieldLength = 16;

// The identification pieces (split at ":") in table order, each once, that
// fit the model field and are plain enough for a udev pattern.
QStringList matchablePieces(const VHModelTable &rows);
// Rows none of whose pieces can ever be seen by udev.
QStringList unmatchableRows(const VHModelTable &rows);
// The rule file: TAG+="uaccess" on the scsi_generic and disk nodes of USB
// mass-storage disks whose vendor or model field holds a piece.
QByteArray rules(const VHModelTable &rows);
// The modules-load.d file: the generic SCSI driver, which makes the sg nodes.
QByteArray modulesLoad();

} // namespace VHUdevRule
